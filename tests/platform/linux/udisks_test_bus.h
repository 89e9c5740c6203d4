#pragma once

// Test services for the udisks2 path: a private system bus, and on it polkitd and the real
// udisksd, with udevd running. Header only, shared by the ejection tests.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <sdbus-c++/sdbus-c++.h>

#include "tests/platform/linux/udev_daemon.h"
#include "tests/support/run_command.h"
#include "tests/support/temporary_folder.h"

extern char** environ;

namespace test_bus {

// A child process that is stopped (SIGTERM, then waited for) when this object goes.
class ChildProcess {
 public:
  ChildProcess() = default;
  ChildProcess(ChildProcess&& other) noexcept : pid_(other.pid_) { other.pid_ = -1; }
  ChildProcess& operator=(ChildProcess&& other) noexcept {
    stop();
    pid_ = other.pid_;
    other.pid_ = -1;
    return *this;
  }
  ~ChildProcess() { stop(); }

  // Starts argv[0] with the process environment plus the extra "NAME=value" entries;
  // its output goes to logFile (or /dev/null).
  static std::optional<ChildProcess> start(const std::vector<std::string>& argv,
                                           const std::vector<std::string>& extraEnvironment = {},
                                           const std::string& logFile = "/dev/null") {
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
      environment.emplace_back(*entry);
    }
    environment.insert(environment.end(), extraEnvironment.begin(), extraEnvironment.end());
    std::vector<char*> arguments = pointers(argv);
    std::vector<char*> environmentPointers = pointers(environment);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    const int error = posix_spawn(&pid, arguments[0], &actions, nullptr, arguments.data(),
                                  environmentPointers.data());
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
      return std::nullopt;
    }
    ChildProcess child;
    child.pid_ = pid;
    return child;
  }

  pid_t pid() const { return pid_; }

  // Waits for the end; the exit status, or -1 after a signal.
  int wait() {
    int status = 0;
    if (pid_ <= 0 || waitpid(pid_, &status, 0) != pid_) {
      return -1;
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  bool running() const { return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0; }

  void stop() {
    if (pid_ <= 0) {
      return;
    }
    kill(pid_, SIGTERM);
    for (int i = 0; i < 100 && waitpid(pid_, nullptr, WNOHANG) == 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (waitpid(pid_, nullptr, WNOHANG) == 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
  }

 private:
  static std::vector<char*> pointers(const std::vector<std::string>& texts) {
    std::vector<char*> result;
    for (const auto& text : texts) {
      result.push_back(const_cast<char*>(text.c_str()));
    }
    result.push_back(nullptr);
    return result;
  }

  pid_t pid_ = -1;
};

// Runs a command to its end; its exit status, or -1 when it could not start or ran out of time.
inline int runCommand(const std::vector<std::string>& argv) {
  return test_support::runCommand(argv).status;
}

inline bool waitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    if (condition()) {
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return condition();
}

// True when the bus at the address has a name owner for the name.
inline bool nameHasOwner(const std::string& address, const std::string& name) {
  // Not before the socket is there: sdbus-c++ 1.2 leaks the bus of a failed connection.
  if (address.rfind("unix:path=", 0) == 0 &&
      !std::filesystem::exists(address.substr(std::string("unix:path=").size()))) {
    return false;
  }
  try {
    auto connection = sdbus::createSessionBusConnectionWithAddress(address);
    auto bus = sdbus::createProxy(*connection, "org.freedesktop.DBus", "/org/freedesktop/DBus");
    bool owned = false;
    bus->callMethod("NameHasOwner")
        .onInterface("org.freedesktop.DBus")
        .withArguments(name)
        .storeResultsTo(owned);
    return owned;
  } catch (const sdbus::Error&) {
    return false;
  }
}

// A bus of the system type of our own, open to every user, in a temporary folder.
class PrivateSystemBus {
 public:
  // Nothing when dbus-daemon is missing or does not come up.
  static std::unique_ptr<PrivateSystemBus> start() {
    auto bus = std::unique_ptr<PrivateSystemBus>(new PrivateSystemBus());
    if (bus->folder_.path().empty() || !std::filesystem::exists("/usr/bin/dbus-daemon")) {
      return nullptr;
    }
    // An unprivileged caller must reach the socket too.
    chmod(bus->folder_.path().c_str(), 0755);
    const auto socket = bus->folder_ / "system_bus_socket";
    const auto config = bus->folder_ / "bus.conf";
    std::ofstream(config) << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus "
                             "Configuration 1.0//EN\"\n"
                             " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                             "<busconfig>\n"
                             "  <type>system</type>\n"
                             "  <listen>unix:path="
                          << socket.string()
                          << "</listen>\n"
                             "  <auth>EXTERNAL</auth>\n"
                             "  <policy context=\"default\">\n"
                             "    <allow user=\"*\"/>\n"
                             "    <allow own=\"*\"/>\n"
                             "    <allow send_destination=\"*\"/>\n"
                             "    <allow receive_sender=\"*\"/>\n"
                             "  </policy>\n"
                             "</busconfig>\n";
    auto daemon = ChildProcess::start(
        {"/usr/bin/dbus-daemon", "--nofork", "--nopidfile", "--config-file=" + config.string()}, {},
        (bus->folder_ / "dbus-daemon.log").string());
    if (!daemon) {
      return nullptr;
    }
    bus->daemon_ = std::move(*daemon);
    bus->address_ = "unix:path=" + socket.string();
    const std::string address = bus->address_;
    if (!waitUntil([&] { return nameHasOwner(address, "org.freedesktop.DBus"); })) {
      return nullptr;
    }
    return bus;
  }

  const std::string& address() const { return address_; }
  const TemporaryFolder& folder() const { return folder_; }
  std::string environmentEntry() const { return "DBUS_SYSTEM_BUS_ADDRESS=" + address_; }

 private:
  PrivateSystemBus() = default;

  TemporaryFolder folder_;
  ChildProcess daemon_;
  std::string address_;
};

// udevd, a private system bus, polkitd and udisksd: what udisks2 needs to see loop devices.
class UdisksTestServices {
 public:
  // Nothing, with the reason in whyNot, where this machine cannot run them.
  static std::unique_ptr<UdisksTestServices> start(std::string& whyNot) {
    if (geteuid() != 0) {
      whyNot = "udisksd and loop devices need root";
      return nullptr;
    }
    if (!std::filesystem::exists(udisksd)) {
      whyNot = std::string(udisksd) + " is not installed (package udisks2)";
      return nullptr;
    }
    if (!std::filesystem::exists("/dev/loop-control")) {
      whyNot = "this machine has no loop devices";
      return nullptr;
    }
    if (!udev_daemon::ensureRunning()) {
      whyNot = "systemd-udevd is not running and cannot be started";
      return nullptr;
    }
    auto services = std::unique_ptr<UdisksTestServices>(new UdisksTestServices());
    services->bus_ = PrivateSystemBus::start();
    if (!services->bus_) {
      whyNot = "a private system bus (dbus-daemon) cannot be started";
      return nullptr;
    }
    const std::string address = services->bus_->address();
    const std::vector<std::string> environment{services->bus_->environmentEntry()};
    const auto logs = services->bus_->folder().path();
    // polkit decides for udisks2 who may unmount; without it every non-root call fails anyway,
    // but with the answer polkit gives in a real session.
    for (const char* polkitd : {"/usr/lib/polkit-1/polkitd", "/usr/libexec/polkitd"}) {
      if (std::filesystem::exists(polkitd)) {
        if (auto child = ChildProcess::start({polkitd, "--no-debug"}, environment,
                                             (logs / "polkitd.log").string())) {
          services->polkitd_ = std::move(*child);
          waitUntil([&] { return nameHasOwner(address, "org.freedesktop.PolicyKit1"); });
        }
        break;
      }
    }
    auto daemon = ChildProcess::start({udisksd}, environment, (logs / "udisksd.log").string());
    if (!daemon) {
      whyNot = "udisksd cannot be started";
      return nullptr;
    }
    services->udisksd_ = std::move(*daemon);
    if (!waitUntil([&] { return nameHasOwner(address, "org.freedesktop.UDisks2"); })) {
      whyNot = "udisksd did not come up on the private bus";
      return nullptr;
    }
    return services;
  }

  const std::string& busAddress() const { return bus_->address(); }
  std::string environmentEntry() const { return bus_->environmentEntry(); }

  // Lets udisksd see devices attached or mounted since: udev first, then its own poll.
  static void settle() { udev_daemon::settle(); }

 private:
  static constexpr const char* udisksd = "/usr/libexec/udisks2/udisksd";

  UdisksTestServices() = default;

  // Members stop in reverse order: udisksd, polkitd, then the bus.
  std::unique_ptr<PrivateSystemBus> bus_;
  ChildProcess polkitd_;
  ChildProcess udisksd_;
};

} // namespace test_bus
