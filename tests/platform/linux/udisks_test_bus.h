#pragma once

// A private system bus with polkitd and the real udisksd, udevd running. Header only.

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <sdbus-c++/sdbus-c++.h> // for the tests that ask udisks2 themselves

#include "tests/platform/linux/udev_daemon.h"
#include "tests/support/run_command.h"
#include "tests/support/temporary_folder.h"

namespace test_bus {

using test_support::waitUntil;

// A program run for the test's length, logging to a file; SIGTERM then SIGKILL at the end.
class Daemon {
 public:
  Daemon(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
         const std::string& logFile) {
    const int log = open(logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    pid_ = test_support::startProgram(argv, environment, log, log);
    close(log);
  }
  ~Daemon() {
    if (pid_ <= 0) {
      return;
    }
    kill(pid_, SIGTERM);
    if (!waitUntil([&] { return waitpid(pid_, nullptr, WNOHANG) == pid_; },
                   std::chrono::seconds(2))) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  Daemon(const Daemon&) = delete;
  Daemon& operator=(const Daemon&) = delete;

  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
};

inline bool nameHasOwner(const std::string& address, const std::string& name) {
  return test_support::runProgram({test_support::findTool("dbus-send"), "--bus=" + address,
                                   "--print-reply", "--dest=org.freedesktop.DBus", "/",
                                   "org.freedesktop.DBus.NameHasOwner", "string:" + name})
             .output.find("boolean true") != std::string::npos;
}

// A system-type bus of our own, open to every user; withUdisks adds udevd, polkitd, udisksd.
class PrivateSystemBus {
 public:
  // Nothing, with the reason in whyNot, where this machine cannot run them.
  static std::unique_ptr<PrivateSystemBus> start(std::string& whyNot, bool withUdisks = true) {
    constexpr const char* udisksd = "/usr/libexec/udisks2/udisksd";
    if (withUdisks &&
        (geteuid() != 0 || !std::filesystem::exists(udisksd) ||
         !std::filesystem::exists("/dev/loop-control") || !udev_daemon::ensureRunning())) {
      whyNot = "needs root, loop devices, udevd and udisksd (package udisks2)";
      return nullptr;
    }
    auto bus = std::unique_ptr<PrivateSystemBus>(new PrivateSystemBus());
    chmod(bus->folder_.path().c_str(), 0755); // an unprivileged caller must reach the socket
    const auto config = bus->folder_ / "bus.conf";
    bus->address_ = "unix:path=" + (bus->folder_ / "system_bus_socket").string();
    std::ofstream(config) << "<busconfig><type>system</type><listen>" << bus->address_
                          << "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                             "<allow user=\"*\"/><allow own=\"*\"/><allow send_destination=\"*\"/>"
                             "<allow receive_sender=\"*\"/></policy></busconfig>\n";
    bus->start(
        {"/usr/bin/dbus-daemon", "--nofork", "--nopidfile", "--config-file=" + config.string()},
        "org.freedesktop.DBus");
    // polkit decides for udisks2 who may unmount, with the answer it gives in a real session.
    for (const char* polkitd : {"/usr/lib/polkit-1/polkitd", "/usr/libexec/polkitd"}) {
      if (withUdisks && std::filesystem::exists(polkitd)) {
        bus->start({polkitd, "--no-debug"}, "org.freedesktop.PolicyKit1");
      }
    }
    if (!nameHasOwner(bus->address_, "org.freedesktop.DBus") ||
        (withUdisks && !bus->start({udisksd}, "org.freedesktop.UDisks2"))) {
      whyNot = "dbus-daemon or udisksd does not come up on a private bus";
      return nullptr;
    }
    return bus;
  }

  ~PrivateSystemBus() {
    while (!daemons_.empty()) {
      daemons_.pop_back(); // udisksd, polkitd, then the bus
    }
  }

  const std::string& address() const { return address_; }
  pid_t udisksd() const { return daemons_.back()->pid(); }
  const TemporaryFolder& folder() const { return folder_; }

  // Whether udisksd lists a block mounted at the path (it reads the table on its own schedule).
  bool listsMountPoint(const std::string& mountPath) const {
    return test_support::runProgram({test_support::findTool("udisksctl"), "dump"},
                                    {"DBUS_SYSTEM_BUS_ADDRESS=" + address_})
               .output.find(" " + mountPath + "\n") != std::string::npos;
  }

 private:
  PrivateSystemBus() = default;

  bool start(const std::vector<std::string>& argv, const std::string& name) {
    const std::string log =
        (folder_ / (std::filesystem::path(argv[0]).filename().string() + ".log")).string();
    daemons_.push_back(std::make_unique<Daemon>(
        argv, std::vector<std::string>{"DBUS_SYSTEM_BUS_ADDRESS=" + address_}, log));
    return waitUntil([&] { return nameHasOwner(address_, name); });
  }

  TemporaryFolder folder_;
  std::string address_;
  std::vector<std::unique_ptr<Daemon>> daemons_;
};

} // namespace test_bus
