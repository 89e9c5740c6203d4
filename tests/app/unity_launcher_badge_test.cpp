#include "app/support/unity_launcher_badge.h"

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include "tests/support/environment_variable.h"
#include "tests/support/temporary_folder.h"

namespace {

// Reads a child's output until it holds `needle` `count` times or the time is up.
bool waitForOutput(QProcess& process, QByteArray& output, const QByteArray& needle, int count = 1) {
  QElapsedTimer timer;
  timer.start();
  while (output.count(needle) < count && timer.elapsed() < 5000) {
    process.waitForReadyRead(100);
    output += process.readAllStandardOutput();
  }
  return output.count(needle) >= count;
}

// A private session bus and a monitor on it, both real child processes.
class LauncherBadgeBus : public testing::Test {
 protected:
  void SetUp() override {
    if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty() ||
        QStandardPaths::findExecutable(QStringLiteral("dbus-monitor")).isEmpty()) {
      GTEST_SKIP() << "dbus-daemon and dbus-monitor are needed for a private session bus";
    }
    daemon.start(QStringLiteral("dbus-daemon"),
                 {QStringLiteral("--session"), QStringLiteral("--nofork"),
                  QStringLiteral("--print-address=1")});
    ASSERT_TRUE(daemon.waitForReadyRead(5000));
    address = QString::fromUtf8(daemon.readLine()).trimmed();
    ASSERT_FALSE(address.isEmpty());

    monitor.start(QStringLiteral("dbus-monitor"),
                  {QStringLiteral("--address"), address,
                   QStringLiteral("interface='com.canonical.Unity.LauncherEntry'")});
    // The monitor gives its name up once it is listening.
    ASSERT_TRUE(waitForOutput(monitor, output, "member=NameLost"));
  }

  void TearDown() override {
    QDBusConnection::disconnectFromBus(QStringLiteral("varnelo-badge-test"));
    for (QProcess* process : {&monitor, &daemon}) {
      if (process->state() != QProcess::NotRunning) {
        process->kill();
        process->waitForFinished(2000);
      }
    }
  }

  QProcess daemon;
  QProcess monitor;
  QString address;
  QByteArray output;
};

TEST_F(LauncherBadgeBus, SignalsCountOneVisibleWhileUnreadAndHiddenAfter) {
  const QDBusConnection bus =
      QDBusConnection::connectToBus(address, QStringLiteral("varnelo-badge-test"));
  ASSERT_TRUE(bus.isConnected());
  UnityLauncherBadge badge(bus);

  badge.setUnread(true);
  badge.setUnread(false);

  // Each signal's last line is its count-visible entry.
  ASSERT_TRUE(waitForOutput(monitor, output, "boolean false")) << output.toStdString();
  QByteArray updates = output.mid(output.indexOf("member=Update"));
  EXPECT_TRUE(updates.contains("path=/com/varnelo_labs/VarneloEject;")) << updates.toStdString();
  EXPECT_TRUE(updates.contains("string \"application://varnelo-eject.desktop\""));
  EXPECT_TRUE(updates.contains("string \"count\"\n         variant             int64 1"))
      << updates.toStdString();
  const qsizetype visible = updates.indexOf("string \"count-visible\"");
  const qsizetype hidden = updates.indexOf("string \"count-visible\"", visible + 1);
  ASSERT_GE(visible, 0);
  ASSERT_GT(hidden, visible);
  EXPECT_TRUE(updates.mid(visible, hidden - visible).contains("boolean true"));
  EXPECT_TRUE(updates.mid(hidden).contains("boolean false"));
}

TEST(LauncherBadge, ASessionBusIsFoundByAddressOrByTheUsersRuntimeSocket) {
  TemporaryFolder runtime;
  {
    EnvironmentVariable address("DBUS_SESSION_BUS_ADDRESS", nullptr);
    EnvironmentVariable folder("XDG_RUNTIME_DIR", runtime.path().c_str());
    EXPECT_FALSE(UnityLauncherBadge::sessionBusAvailable());
    QFile socket(QString::fromStdString((runtime / "bus").string()));
    ASSERT_TRUE(socket.open(QIODevice::WriteOnly));
    socket.close();
    EXPECT_TRUE(UnityLauncherBadge::sessionBusAvailable());
  }
  EnvironmentVariable address("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent");
  EnvironmentVariable folder("XDG_RUNTIME_DIR", nullptr);
  EXPECT_TRUE(UnityLauncherBadge::sessionBusAvailable());
}

} // namespace
