#include <QApplication>

#include <gtest/gtest.h>

#include "tests/support/temporary_folder.h"

// Widgets need the application object. The tests never need a real display: the offscreen
// platform is used unless one is chosen explicitly (test discovery runs without the test
// environment).
int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  // ctest runs the cases as parallel processes; each gets its own settings file so that one
  // case's stored status colour never shows up in another.
  const TemporaryFolder settingsHome;
  qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString((settingsHome / "config").string()));

  QApplication application(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
