#include <chrono>

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QStringList>
#include <QTest>

#include "app/main_window.h"
#include "tests/app/app_rig.h"

// Set by the test main; empty when the display, the bus and its watcher run.
extern std::string statusNotifierSkipReason;
// A panel's watcher and host going and coming, as when a desktop shell restarts.
bool startWatcher();
void stopWatcher();

namespace {

// A panel-like bus client; calls spin the event loop since the item answers on this thread.
QDBusMessage call(const QString& service, const QString& path, const QString& interface,
                  const QString& method, const QVariantList& arguments = {}) {
  static QDBusConnection panel = QDBusConnection::connectToBus(
      QString::fromLocal8Bit(qgetenv("DBUS_SESSION_BUS_ADDRESS")), QStringLiteral("panel"));
  QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
  message.setArguments(arguments);
  QDBusPendingCall pending = panel.asyncCall(message, 5000);
  (void)QTest::qWaitFor([&]() { return pending.isFinished(); }, 6000);
  return pending.reply();
}

QVariant property(const QString& service, const QString& path, const QString& interface,
                  const QString& name) {
  const QDBusMessage reply = call(service, path, QStringLiteral("org.freedesktop.DBus.Properties"),
                                  QStringLiteral("Get"), {interface, name});
  return reply.arguments().isEmpty() ? QVariant()
                                     : reply.arguments().front().value<QDBusVariant>().variant();
}

const QString watcher = QStringLiteral("org.kde.StatusNotifierWatcher");

// The items the watcher knows, once there is one (or after five seconds).
QStringList registeredItems() {
  QStringList items;
  (void)QTest::qWaitFor(
      [&]() {
        items = property(watcher, QStringLiteral("/StatusNotifierWatcher"), watcher,
                         QStringLiteral("RegisteredStatusNotifierItems"))
                    .toStringList();
        return !items.isEmpty();
      },
      5000);
  return items;
}

} // namespace

// What the menu holds is the tray icon's own test; here, that panels get it at all.
TEST(StatusNotifierItem, PanelsGetTheMenuActivateEjectsAllAndARestartedPanelIsFollowed) {
  if (!statusNotifierSkipReason.empty()) {
    GTEST_SKIP() << statusNotifierSkipReason;
  }
  AppRig rig;
  rig.settings.setMenuBarMode(true);
  rig.engineRig.source.setVolumes({
      {"/media/user/KEY", FakeVolumeSource::external("MY_USB_KEY")},
      {"/media/user/Tom", FakeVolumeSource::external("Tom & Jerry")},
  });
  Application& application = rig.launch();
  application.trayIcon().setPanelGrace(std::chrono::milliseconds(300));

  const QStringList items = registeredItems();
  ASSERT_EQ(items.size(), 1) << "the tray icon never registered with the watcher";
  const qsizetype slash = items.front().indexOf(QLatin1Char('/'));
  const QString service = items.front().left(slash);
  const QString path = slash > 0 ? items.front().mid(slash) : QStringLiteral("/StatusNotifierItem");
  const QString item = QStringLiteral("org.kde.StatusNotifierItem");
  const QString menu =
      property(service, path, item, QStringLiteral("Menu")).value<QDBusObjectPath>().path();
  ASSERT_FALSE(menu.isEmpty());
  ASSERT_NE(menu, QStringLiteral("/NO_DBUSMENU"));
  call(service, path, item, QStringLiteral("Activate"), {0, 0});
  rig.settle();
  EXPECT_EQ(rig.ejected().size(), 2u);

  // The panel restarts: the icon registers again and the window stays away.
  const auto shown = [&]() {
    return application.mainWindow() && application.mainWindow()->isVisible();
  };
  stopWatcher();
  ASSERT_TRUE(startWatcher());
  EXPECT_EQ(registeredItems().size(), 1) << "not registered with the new watcher";
  QTest::qWait(500);
  EXPECT_FALSE(shown());
  // Gone for good: the window comes, and a second launch brings it back.
  stopWatcher();
  EXPECT_TRUE(QTest::qWaitFor(shown, 3000));
  application.mainWindow()->hide();
  application.reopen();
  EXPECT_TRUE(shown());
  ASSERT_TRUE(startWatcher());
}
