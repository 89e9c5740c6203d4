// Desktop notifications against a stand-in notification service on a private bus.

#include "platform/linux/freedesktop_notifier.h"

#include <gtest/gtest.h>

#include "tests/platform/linux/udisks_test_bus.h"

TEST(FreedesktopNotifierTest, SendsTheStandardNotifyCallAndNothingWhereNoServiceListens) {
  std::string whyNot;
  const auto bus = test_bus::PrivateSystemBus::start(whyNot, false);
  if (!bus) {
    GTEST_SKIP() << whyNot;
  }
  FreedesktopNotifier::Options options;
  options.busAddress = bus->address();
  FreedesktopNotifier notifier(options);
  const auto started = std::chrono::steady_clock::now();
  notifier.notify("“Stick” can be removed", "");
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));

  std::vector<std::string> shown;
  auto connection = sdbus::createSessionBusConnectionWithAddress(bus->address());
  connection->requestName("org.freedesktop.Notifications");
  auto service = sdbus::createObject(*connection, "/org/freedesktop/Notifications");
  service->registerMethod("Notify")
      .onInterface("org.freedesktop.Notifications")
      .implementedAs([&](const std::string& application, std::uint32_t, const std::string&,
                         const std::string& summary, const std::string&,
                         const std::vector<std::string>&,
                         const std::map<std::string, sdbus::Variant>&, std::int32_t) {
        shown.push_back(application + ": " + summary);
        return std::uint32_t{1};
      });
  service->finishRegistration();
  connection->enterEventLoopAsync();
  notifier.notify("“Stick” can be removed", "");
  connection->leaveEventLoop();
  EXPECT_EQ(shown, std::vector<std::string>{"VarneloEject: “Stick” can be removed"});
}
