#pragma once

#include <chrono>
#include <string>

#include "platform/desktop_notifier.h"

// Notifications through org.freedesktop.Notifications on the session bus.
class FreedesktopNotifier : public DesktopNotifier {
 public:
  struct Options {
    // Empty: the session bus (DBUS_SESSION_BUS_ADDRESS).
    std::string busAddress;
    std::string applicationName = "VarneloEject";
    // Our desktop entry and its icon, so that the desktop heads the notification with both.
    std::string icon = "varnelo-eject";
    std::string desktopEntry = "varnelo-eject";
    std::chrono::milliseconds callTimeout = std::chrono::seconds(5);
  };

  FreedesktopNotifier() = default;
  explicit FreedesktopNotifier(Options options) : options_(std::move(options)) {}

  void notify(const std::string& summary, const std::string& body) override;

 private:
  Options options_;
};
