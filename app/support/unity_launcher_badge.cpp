#include "app/support/unity_launcher_badge.h"

#include <QDBusMessage>
#include <QFileInfo>
#include <QVariantMap>

namespace {

QDBusConnection sessionBusIfRunning() {
  // Asking Qt for the session bus without one would start dbus-launch under X11, which then
  // outlives us; a badge is not worth a daemon.
  if (!UnityLauncherBadge::sessionBusAvailable()) {
    return QDBusConnection(QString());
  }
  return QDBusConnection::sessionBus();
}

} // namespace

UnityLauncherBadge::UnityLauncherBadge() : connection_(sessionBusIfRunning()) {}

UnityLauncherBadge::UnityLauncherBadge(const QDBusConnection& connection)
    : connection_(connection) {}

bool UnityLauncherBadge::sessionBusAvailable() {
  if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) {
    return true;
  }
  // Where systemd runs the user's bus, libdbus finds it here without the variable.
  const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
  return !runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus"));
}

void UnityLauncherBadge::setUnread(bool unread) {
  if (!connection_.isConnected()) {
    return;
  }
  QDBusMessage signal =
      QDBusMessage::createSignal(QString::fromLatin1(objectPath),
                                 QString::fromLatin1(interfaceName), QStringLiteral("Update"));
  const QVariantMap properties{{QStringLiteral("count"), qint64{1}},
                               {QStringLiteral("count-visible"), unread}};
  signal << QString::fromLatin1(appUri) << properties;
  connection_.send(signal);
}
