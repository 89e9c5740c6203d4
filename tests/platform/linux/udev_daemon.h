#pragma once

// udevd for the tests that need its database or its events. The control socket in /run/udev
// may outlive the daemon (these machines boot with a stale one), so only an answered ping
// counts as running. Header only.

#include <unistd.h>

#include <chrono>
#include <string>

#include "tests/support/run_command.h"

namespace udev_daemon {

inline bool answers() {
  return test_support::runCommand(
             {test_support::findTool("udevadm"), "control", "--ping", "--timeout=5"},
             std::chrono::seconds(10))
             .status == 0;
}

// Waits, at most ten seconds, until udevd has handled every event queued so far.
inline void settle() {
  test_support::runCommand({test_support::findTool("udevadm"), "settle", "--timeout=10"},
                           std::chrono::seconds(20));
}

// A change event for one device (or every block device), then settle.
inline void triggerChange(const std::string& device = {}) {
  if (device.empty()) {
    test_support::runCommand({test_support::findTool("udevadm"), "trigger", "--action=change",
                              "--subsystem-match=block"},
                             std::chrono::seconds(20));
  } else {
    test_support::runCommand(
        {test_support::findTool("udevadm"), "trigger", "--action=change", device},
        std::chrono::seconds(20));
  }
  settle();
}

inline void reloadRules() {
  test_support::runCommand({test_support::findTool("udevadm"), "control", "--reload"},
                           std::chrono::seconds(10));
}

// udevd is the machine's own device manager: once started here it is left running for every
// later test, since tests running beside this one may rely on it. False when it cannot run
// (not root, or not installed).
inline bool ensureRunning() {
  if (answers()) {
    return true;
  }
  const auto daemon = test_support::findTool("systemd-udevd");
  const std::string path =
      access(daemon.c_str(), X_OK) == 0 ? daemon : "/lib/systemd/systemd-udevd";
  if (geteuid() != 0 ||
      test_support::runCommand({path, "--daemon"}, std::chrono::seconds(20)).status != 0) {
    return answers(); // another test may have started it meanwhile
  }
  triggerChange();
  return answers();
}

} // namespace udev_daemon
