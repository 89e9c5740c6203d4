#pragma once

#include <QDBusConnection>
#include <QString>

#include "app/support/launcher_badge.h"

// The badge through the launcher-entry signal that Ubuntu's dock and KDE Plasma's task manager
// listen for on the session bus. Where there is no session bus it does nothing.
class UnityLauncherBadge : public LauncherBadge {
 public:
  static constexpr const char* objectPath = "/com/varnelo_labs/VarneloEject";
  static constexpr const char* interfaceName = "com.canonical.Unity.LauncherEntry";
  static constexpr const char* appUri = "application://varnelo-eject.desktop";

  // The user's session bus when one is running; never starts one.
  UnityLauncherBadge();
  // A given bus, for tests with a private one.
  explicit UnityLauncherBadge(const QDBusConnection& connection);

  void setUnread(bool unread) override;

  // Whether the session has a bus to connect to without starting one.
  static bool sessionBusAvailable();

 private:
  QDBusConnection connection_;
};
