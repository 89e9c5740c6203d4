#include "platform/linux/freedesktop_notifier.h"

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include <sdbus-c++/sdbus-c++.h>

namespace {

constexpr const char* service = "org.freedesktop.Notifications";
constexpr const char* objectPath = "/org/freedesktop/Notifications";

} // namespace

void FreedesktopNotifier::notify(const std::string& summary, const std::string& body) {
  try {
    auto connection = options_.busAddress.empty()
                          ? sdbus::createSessionBusConnection()
                          : sdbus::createSessionBusConnectionWithAddress(options_.busAddress);
    auto proxy = sdbus::createProxy(*connection, service, objectPath);
    std::uint32_t id = 0;
    proxy->callMethod("Notify")
        .onInterface(service)
        .withArguments(options_.applicationName, std::uint32_t{0}, options_.icon, summary, body,
                       std::vector<std::string>{},
                       std::map<std::string, sdbus::Variant>{
                           {"desktop-entry", sdbus::Variant(options_.desktopEntry)}},
                       std::int32_t{-1})
        .withTimeout(options_.callTimeout)
        .storeResultsTo(id);
  } catch (const sdbus::Error&) {
    // No session bus, or no service to start (org.freedesktop.DBus.Error.ServiceUnknown): a
    // notification is a courtesy, not a duty. The call itself starts a service that D-Bus
    // activates on demand (dunst, xfce4-notifyd), so nobody is asked beforehand.
  }
}
