// Desktop notifications to a notification service that D-Bus starts on demand, on a private bus.

#include "platform/linux/freedesktop_notifier.h"

#include <fstream>

#include <gtest/gtest.h>

#include "tests/platform/linux/udisks_test_bus.h"

namespace {

// Owns the name, writes each Notify call's application, summary, icon and desktop entry.
constexpr const char* notificationService = R"(import os, sys
from gi.repository import Gio, GLib
types = ['s', 'u', 's', 's', 's', 'as', 'a{sv}', 'i']
xml = ('<node><interface name="org.freedesktop.Notifications"><method name="Notify">' +
       ''.join('<arg type="%s" direction="in"/>' % t for t in types) +
       '<arg type="u" direction="out"/></method></interface></node>')
def call(connection, sender, path, interface, method, parameters, invocation):
    a = parameters.unpack()
    with open(sys.argv[1], 'a') as log:
        log.write('|'.join([a[0], a[3], a[2], a[6].get('desktop-entry', '')]) + '\n')
    invocation.return_value(GLib.Variant('(u)', (1,)))
bus = Gio.DBusConnection.new_for_address_sync(os.environ['DBUS_STARTER_ADDRESS'],
    Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT |
    Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION, None, None)
bus.set_exit_on_close(True)
bus.register_object('/org/freedesktop/Notifications',
                    Gio.DBusNodeInfo.new_for_xml(xml).interfaces[0], call, None, None)
Gio.bus_own_name_on_connection(bus, 'org.freedesktop.Notifications', 0, None, None)
GLib.MainLoop().run()
)";

} // namespace

TEST(FreedesktopNotifierTest, StartsTheServiceThroughDBusAndSaysNothingWhereThereIsNone) {
  if (test_support::runProgram({"/usr/bin/python3", "-c", "from gi.repository import Gio"})
          .status != 0) {
    GTEST_SKIP() << "python3-gi plays the notification service";
  }
  TemporaryFolder folder;
  const std::string address = "unix:path=" + (folder / "bus").string();
  std::ofstream(folder / "bus.conf")
      << "<busconfig><type>session</type><listen>" << address << "</listen><servicedir>"
      << folder.path().string() << "</servicedir><policy context=\"default\">"
      << "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
      << "<allow own=\"*\"/></policy></busconfig>\n";
  test_bus::Daemon bus({"/usr/bin/dbus-daemon", "--nofork", "--nopidfile",
                        "--config-file=" + (folder / "bus.conf").string()},
                       {}, (folder / "bus.log").string());
  ASSERT_TRUE(test_support::waitUntil(
      [&] { return test_bus::nameHasOwner(address, "org.freedesktop.DBus"); }));
  FreedesktopNotifier::Options options;
  options.busAddress = address;
  FreedesktopNotifier notifier(options);

  // Nobody to start: the bus says so at once.
  const auto started = std::chrono::steady_clock::now();
  notifier.notify("“Stick” can be removed", "");
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));

  std::ofstream(folder / "notifications.py") << notificationService;
  std::ofstream(folder / "org.freedesktop.Notifications.service")
      << "[D-BUS Service]\nName=org.freedesktop.Notifications\nExec=/usr/bin/python3 "
      << (folder / "notifications.py").string() << " " << (folder / "shown").string() << "\n";
  test_support::runProgram({test_support::findTool("dbus-send"), "--bus=" + address,
                            "--type=method_call", "--dest=org.freedesktop.DBus", "/",
                            "org.freedesktop.DBus.ReloadConfig"});
  notifier.notify("“Stick” can be removed", "");
  std::string shown;
  std::getline(std::ifstream(folder / "shown"), shown);
  EXPECT_EQ(shown, "VarneloEject|“Stick” can be removed|varnelo-eject|varnelo-eject");
}
