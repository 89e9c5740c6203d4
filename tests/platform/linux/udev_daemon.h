#pragma once

// udevd for the tests; a stale control socket may outlive it, so only a ping answer counts.

#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/support/run_command.h"

namespace udev_daemon {

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

// A change event, waited for with "--settle" (a later settle may run before the kernel sends it).
inline void triggerChange(const std::string& device = {}) {
  if (udevadm({"trigger", "--action=change", "--settle",
               device.empty() ? "--subsystem-match=block" : device},
              20)
          .timedOut) {
    settle();
  }
}

// Reloads and re-triggers until the property is (value empty: is not) set; udevd may lag a rule.
inline bool applyRulesUntil(const std::string& device, const std::string& property,
                            const std::string& value) {
  return test_support::waitUntil(
      [&] {
        udevadm({"control", "--reload"});
        triggerChange(device);
        const std::string properties = "\n" + udevadm({"info", "--query=property", device}).output;
        return value.empty()
                   ? properties.find("\n" + property + "=") == std::string::npos
                   : properties.find("\n" + property + "=" + value + "\n") != std::string::npos;
      },
      std::chrono::seconds(5), std::chrono::milliseconds(200));
}

// The file system's UUID as libblkid reads it off the device; empty when none.
inline std::string fileSystemUuid(const std::string& device) {
  const auto output = test_support::runProgram({test_support::findTool("blkid"), "-p", "-s", "UUID",
                                                "-o", "value", device})
                          .output;
  return output.substr(0, output.find('\n'));
}

// Waits up to 5 s for udev's database to show the new file system (reused loop numbers lag).
inline void waitUntilProbed(const std::string& device) {
  const std::string uuid = answers() ? fileSystemUuid(device) : std::string(); // no udevd: blkid
  test_support::waitUntil(
      [&] {
        return uuid.empty() ||
               (settle(), udevadm({"info", "--query=property", device}))
                       .output.find("ID_FS_UUID=" + uuid + "\n") != std::string::npos;
      },
      std::chrono::seconds(5), std::chrono::milliseconds(100));
}

// Once started, udevd is left running: tests beside this one may rely on it.
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
