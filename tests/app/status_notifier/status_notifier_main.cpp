#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include <QApplication>

#include "tests/support/run_command.h"

std::string statusNotifierSkipReason;
pid_t statusNotifierWatcher = 0;

// xkbcommon passes strndup atom names that end at their length, not at a NUL; under the strict
// string checks of our sanitizer runs the strndup check would read past them.
extern "C" const char* __asan_default_options() {
  return "intercept_strndup=0";
}

namespace {

// A private X server: Qt exports tray icons over D-Bus on X11 and Wayland, not offscreen.
pid_t startDisplay() {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) {
    return 0;
  }
  const pid_t pid = test_support::startProgram(
      {test_support::findTool("Xvfb"), "-displayfd", "1", "-nolisten", "tcp"}, {}, ends[1], -1);
  close(ends[1]);
  std::string number;
  char character = 0;
  while (pid > 0 && read(ends[0], &character, 1) == 1 && character != '\n') {
    number += character;
  }
  close(ends[0]);
  if (number.empty()) {
    return 0;
  }
  setenv("DISPLAY", (":" + number).c_str(), 1);
  setenv("QT_QPA_PLATFORM", "xcb", 1);
  return pid;
}

} // namespace

// A watcher as a panel brings it, with the panel's host: Qt registers only where a host runs.
// The host's registration fails until the watcher owns its name.
bool startWatcher() {
  statusNotifierWatcher =
      test_support::startProgram({test_support::findTool("status-notifier-watcher")}, {}, -1, -1);
  return statusNotifierWatcher > 0 && test_support::waitUntil([] {
           return test_support::runProgram(
                      {"/usr/bin/dbus-send", "--session", "--print-reply",
                       "--dest=org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher",
                       "org.kde.StatusNotifierWatcher.RegisterStatusNotifierHost",
                       "string:org.kde.StatusNotifierHost-test"})
                      .status == 0;
         });
}

void stopWatcher() {
  if (statusNotifierWatcher > 0) {
    kill(statusNotifierWatcher, SIGTERM);
    waitpid(statusNotifierWatcher, nullptr, 0);
    statusNotifierWatcher = 0;
  }
}

// Display, private session bus and watcher come before Qt, so the tray icon goes over D-Bus.
int main(int argc, char** argv) {
  pid_t children[2] = {startDisplay(), 0};
  const std::string bus =
      children[0] != 0 ? test_support::runProgram({"/usr/bin/dbus-daemon", "--session", "--fork",
                                                   "--print-address=1", "--print-pid=1"})
                             .output
                       : std::string();
  const std::size_t newline = bus.find('\n');
  if (newline != std::string::npos) {
    setenv("DBUS_SESSION_BUS_ADDRESS", bus.substr(0, newline).c_str(), 1);
    children[1] = static_cast<pid_t>(std::atol(bus.c_str() + newline + 1));
  }
  if (children[1] <= 0 || !startWatcher()) {
    statusNotifierSkipReason = "needs Xvfb, dbus-daemon and status-notifier-watcher";
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  }
  int status = 0;
  {
    QApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    status = RUN_ALL_TESTS();
  }
  stopWatcher();
  for (const pid_t child : children) {
    if (child > 0) {
      kill(child, SIGTERM);
      waitpid(child, nullptr, 0);
    }
  }
  return status;
}
