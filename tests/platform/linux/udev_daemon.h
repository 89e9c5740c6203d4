#pragma once

// udevd for the tests that need its database or its events. The control socket in /run/udev
// may outlive the daemon (these machines boot with a stale one), so only an answered ping
// counts as running. Header only.

#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/run_command.h"

namespace udev_daemon {

// udevadm with a time limit; its standard output.
inline test_support::CommandResult udevadm(std::vector<std::string> arguments, int seconds = 10) {
  arguments.insert(arguments.begin(), test_support::findTool("udevadm"));
  return test_support::runProgram(arguments, {}, std::nullopt, std::chrono::seconds(seconds));
}

inline bool answers() {
  return udevadm({"control", "--ping", "--timeout=5"}).status == 0;
}

// Waits, at most ten seconds, until udevd has handled every event queued so far.
inline void settle() {
  udevadm({"settle", "--timeout=10"}, 20);
}

// A change event for one device (or every block device), waiting until udevd has handled it:
// "--settle" waits for those very events, where a later "udevadm settle" may find the queue
// empty before the kernel has even delivered them.
inline void triggerChange(const std::string& device = {}) {
  if (udevadm({"trigger", "--action=change", "--settle",
               device.empty() ? "--subsystem-match=block" : device},
              20)
          .timedOut) {
    settle();
  }
}

// Reloads the rules and re-runs them on the device until its database entry does (or, with
// an empty value, does not) hold the property; udevd now and then handles the next event with
// the rules it had before the reload. False when that never happens within about five seconds.
inline bool applyRulesUntil(const std::string& device, const std::string& property,
                            const std::string& value) {
  for (int attempt = 0; attempt < 25; ++attempt) {
    udevadm({"control", "--reload"});
    triggerChange(device);
    const std::string properties = "\n" + udevadm({"info", "--query=property", device}).output;
    const bool hasAny = properties.find("\n" + property + "=") != std::string::npos;
    if (value.empty()
            ? !hasAny
            : properties.find("\n" + property + "=" + value + "\n") != std::string::npos) {
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  return false;
}

// The UUID of the file system on the device, read by libblkid from the device itself; empty
// when it has none.
inline std::string fileSystemUuid(const std::string& device) {
  const auto output = test_support::runProgram({test_support::findTool("blkid"), "-p", "-s", "UUID",
                                                "-o", "value", device})
                          .output;
  return output.substr(0, output.find('\n'));
}

// Waits, at most five seconds, until udev's database describes the file system now on the
// device. A loop number another test has just let go keeps the old image's label there until
// udevd has handled the attach.
inline void waitUntilProbed(const std::string& device) {
  const std::string uuid = answers() ? fileSystemUuid(device) : std::string(); // no udevd: blkid
  for (int attempt = 0; attempt < 50 && !uuid.empty(); ++attempt) {
    settle();
    if (udevadm({"info", "--query=property", device}).output.find("ID_FS_UUID=" + uuid + "\n") !=
        std::string::npos) {
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

// udevd is the machine's own device manager: once started here it is left running for every
// later test, since tests running beside this one may rely on it. False when it cannot run.
inline bool ensureRunning() {
  if (answers()) {
    return true;
  }
  const auto daemon = test_support::findTool("systemd-udevd");
  const std::string path =
      access(daemon.c_str(), X_OK) == 0 ? daemon : "/lib/systemd/systemd-udevd";
  if (geteuid() != 0 || test_support::runProgram({path, "--daemon"}).status != 0) {
    return answers(); // another test may have started it meanwhile
  }
  triggerChange();
  return answers();
}

} // namespace udev_daemon
