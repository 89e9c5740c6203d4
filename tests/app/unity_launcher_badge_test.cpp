#include "app/support/unity_launcher_badge.h"

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

namespace {

class UpdateListener : public QObject {
  Q_OBJECT

 public:
  QList<QDBusMessage> updates;

 public slots:
  void onUpdate(const QDBusMessage& message) { updates.append(message); }
};

TEST(LauncherBadge, SignalsCountOneVisibleWhileUnreadAndHiddenAfter) {
  if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty()) {
    GTEST_SKIP() << "dbus-daemon is needed for a private session bus";
  }
  QProcess daemon;
  daemon.start(QStringLiteral("dbus-daemon"),
               {QStringLiteral("--session"), QStringLiteral("--nofork"),
                QStringLiteral("--print-address=1")});
  ASSERT_TRUE(daemon.waitForReadyRead(5000));
  const QString address = QString::fromUtf8(daemon.readLine()).trimmed();
  UpdateListener listener;
  {
    QDBusConnection listening = QDBusConnection::connectToBus(address, QStringLiteral("listener"));
    ASSERT_TRUE(listening.connect({}, {}, QStringLiteral("com.canonical.Unity.LauncherEntry"),
                                  QStringLiteral("Update"), &listener,
                                  SLOT(onUpdate(QDBusMessage))));
    UnityLauncherBadge badge(QDBusConnection::connectToBus(address, QStringLiteral("badge")));
    badge.setUnread(true);
    badge.setUnread(false);
    EXPECT_TRUE(QTest::qWaitFor([&] { return listener.updates.size() == 2; }, 5000));
  }
  QDBusConnection::disconnectFromBus(QStringLiteral("listener"));
  QDBusConnection::disconnectFromBus(QStringLiteral("badge"));
  daemon.kill();
  daemon.waitForFinished(2000);
  ASSERT_EQ(listener.updates.size(), 2);
  for (const bool visible : {true, false}) {
    const QDBusMessage& update = listener.updates[visible ? 0 : 1];
    EXPECT_EQ(update.path(), QStringLiteral("/com/varnelo_labs/VarneloEject"));
    ASSERT_EQ(update.arguments().size(), 2);
    EXPECT_EQ(update.arguments()[0].toString(),
              QStringLiteral("application://varnelo-eject.desktop"));
    const QVariantMap properties = qdbus_cast<QVariantMap>(update.arguments()[1]);
    EXPECT_EQ(properties.value(QStringLiteral("count")), QVariant(qint64{1}));
    EXPECT_EQ(properties.value(QStringLiteral("count-visible")), QVariant(visible));
  }
}
} // namespace

#include "unity_launcher_badge_test.moc"
