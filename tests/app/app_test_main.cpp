#include <unistd.h>

#include <filesystem>
#include <string>
#include <system_error>

#include <gtest/gtest.h>

#include <QApplication>

// Widget tests need the application object; the offscreen platform needs no display.
// Each test process gets configuration and data folders of its own before anything opens the
// shared settings store, so tests run in parallel never see each other's settings.
int main(int argc, char** argv) {
  const QByteArray configHome = qgetenv("XDG_CONFIG_HOME");
  const std::filesystem::path base = configHome.isEmpty()
                                         ? std::filesystem::temp_directory_path()
                                         : std::filesystem::path(configHome.toStdString());
  const std::filesystem::path own = base / ("app-tests-" + std::to_string(::getpid()));
  qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString((own / "config").string()));
  qputenv("XDG_DATA_HOME", QByteArray::fromStdString((own / "data").string()));
  if (qgetenv("QT_QPA_PLATFORM").isEmpty()) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }

  int status = 0;
  {
    QApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    status = RUN_ALL_TESTS();
  }
  std::error_code ignored;
  std::filesystem::remove_all(own, ignored);
  return status;
}
