#include "platform/linux/udisks_ejector.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include <sdbus-c++/sdbus-c++.h>

namespace {

constexpr const char* udisksService = "org.freedesktop.UDisks2";
constexpr const char* udisksRoot = "/org/freedesktop/UDisks2";
constexpr const char* objectManagerInterface = "org.freedesktop.DBus.ObjectManager";
constexpr const char* blockInterface = "org.freedesktop.UDisks2.Block";
constexpr const char* filesystemInterface = "org.freedesktop.UDisks2.Filesystem";
constexpr const char* partitionInterface = "org.freedesktop.UDisks2.Partition";
constexpr const char* loopInterface = "org.freedesktop.UDisks2.Loop";
constexpr const char* driveInterface = "org.freedesktop.UDisks2.Drive";

// The bus itself answers at once or not at all.
constexpr std::chrono::milliseconds busQuestionTimeout = std::chrono::seconds(5);

using Properties = std::map<std::string, sdbus::Variant>;
using Interfaces = std::map<std::string, Properties>;
using ManagedObjects = std::map<sdbus::ObjectPath, Interfaces>;
using CallOptions = std::map<std::string, sdbus::Variant>;

// sdbus-c++ 1.2 leaks its half-made bus when a connection to an address fails, so a unix
// socket nobody listens on is turned away before it is asked.
bool nobodyListensAt(const std::string& address) {
  constexpr std::string_view prefix = "unix:path=";
  if (address.rfind(prefix, 0) != 0 || address.find_first_of(",;") != std::string::npos) {
    return false;
  }
  const std::string path = address.substr(prefix.size());
  sockaddr_un socketAddress{};
  if (path.size() >= sizeof socketAddress.sun_path) {
    return false;
  }
  socketAddress.sun_family = AF_UNIX;
  path.copy(socketAddress.sun_path, path.size());
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    return false;
  }
  const bool refused =
      connect(fd, reinterpret_cast<const sockaddr*>(&socketAddress), sizeof socketAddress) != 0;
  close(fd);
  return refused;
}

std::unique_ptr<sdbus::IConnection> connectToBus(const std::string& address) {
  if (address.empty()) {
    return sdbus::createSystemBusConnection();
  }
  if (nobodyListensAt(address)) {
    throw sdbus::Error("org.freedesktop.DBus.Error.NoServer", "no bus listens at " + address);
  }
  // Only the address differs from the system bus; sd-bus treats both alike as a client.
  return sdbus::createSessionBusConnectionWithAddress(address);
}

bool has(const Interfaces& interfaces, const std::string& name) {
  return interfaces.find(name) != interfaces.end();
}

template <typename Value>
std::optional<Value> property(const Interfaces& interfaces, const std::string& interface,
                              const std::string& name) {
  const auto found = interfaces.find(interface);
  if (found == interfaces.end()) {
    return std::nullopt;
  }
  const auto value = found->second.find(name);
  if (value == found->second.end() || !value->second.containsValueOfType<Value>()) {
    return std::nullopt;
  }
  return value->second.get<Value>();
}

// udisks2 sends each mount point as a byte array that ends in a NUL.
std::vector<std::string> mountPoints(const Interfaces& interfaces) {
  std::vector<std::string> paths;
  const auto raw = property<std::vector<std::vector<std::uint8_t>>>(interfaces, filesystemInterface,
                                                                    "MountPoints");
  if (!raw) {
    return paths;
  }
  for (const auto& bytes : *raw) {
    std::string path(bytes.begin(), bytes.end());
    if (!path.empty() && path.back() == '\0') {
      path.pop_back();
    }
    paths.push_back(std::move(path));
  }
  return paths;
}

std::string withoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') {
    path.pop_back();
  }
  return path;
}

// What has to be let go of once a block is unmounted: its loop device, or its drive.
struct Holder {
  enum class Kind { none, loop, drive } kind = Kind::none;
  sdbus::ObjectPath path;
};

Holder holderOf(const ManagedObjects& objects, const Interfaces& block,
                const sdbus::ObjectPath& blockPath) {
  if (has(block, loopInterface)) {
    return {Holder::Kind::loop, blockPath};
  }
  // A partition of a partitioned image belongs to the loop device of its table.
  if (const auto table = property<sdbus::ObjectPath>(block, partitionInterface, "Table")) {
    const auto found = objects.find(*table);
    if (found != objects.end() && has(found->second, loopInterface)) {
      return {Holder::Kind::loop, *table};
    }
  }
  if (const auto drive = property<sdbus::ObjectPath>(block, blockInterface, "Drive")) {
    const auto found = objects.find(*drive);
    if (found != objects.end() && has(found->second, driveInterface)) {
      return {Holder::Kind::drive, *drive};
    }
  }
  return {};
}

class UdisksSession {
 public:
  explicit UdisksSession(const UdisksEjector::Options& options)
      : connection_(connectToBus(options.busAddress)), timeout_(options.callTimeout) {}

  sdbus::MethodReply call(const std::string& path, const std::string& interface,
                          const std::string& method,
                          const std::optional<CallOptions>& arguments = std::nullopt) {
    auto proxy = sdbus::createProxy(*connection_, udisksService, path);
    auto message = proxy->createMethodCall(interface, method);
    if (arguments) {
      message << *arguments;
    }
    return proxy->callMethod(message, timeout_);
  }

  ManagedObjects managedObjects() {
    auto reply = call(udisksRoot, objectManagerInterface, "GetManagedObjects");
    ManagedObjects objects;
    reply >> objects;
    return objects;
  }

 private:
  std::unique_ptr<sdbus::IConnection> connection_;
  std::chrono::milliseconds timeout_;
};

// Interactive authorisation stays allowed: in a desktop session, polkit's agent may ask.
CallOptions callOptions() {
  return {{"auth.no_user_interaction", sdbus::Variant(false)}};
}

EjectOutcome failure(std::string text) {
  return {false, std::move(text)};
}

} // namespace

EjectOutcome UdisksEjector::unmountAndEject(const std::string& mountPath) {
  return attempt(mountPath).outcome;
}

UdisksEjector::Attempt UdisksEjector::attempt(const std::string& mountPath) {
  const std::string wanted = withoutTrailingSlashes(mountPath);
  Attempt result;
  try {
    UdisksSession session(options_);
    const ManagedObjects objects = session.managedObjects();

    const ManagedObjects::value_type* target = nullptr;
    for (const auto& object : objects) {
      if (!has(object.second, blockInterface)) {
        continue;
      }
      for (const auto& path : mountPoints(object.second)) {
        if (path == wanted) {
          target = &object;
        }
      }
    }
    if (target == nullptr) {
      result.outcome = failure("udisks2 knows no block device mounted at " + mountPath);
      return result;
    }
    result.volumeKnown = true;

    const Holder holder = holderOf(objects, target->second, target->first);
    // Another filesystem of the same loop device or drive keeps it in use.
    bool holderStillMounted = false;
    if (holder.kind != Holder::Kind::none) {
      for (const auto& object : objects) {
        if (object.first == target->first || !has(object.second, blockInterface)) {
          continue;
        }
        const Holder other = holderOf(objects, object.second, object.first);
        if (other.kind == holder.kind && other.path == holder.path &&
            !mountPoints(object.second).empty()) {
          holderStillMounted = true;
        }
      }
    }

    session.call(target->first, filesystemInterface, "Unmount", callOptions());
    if (holder.kind == Holder::Kind::none || holderStillMounted) {
      result.outcome = {true, {}};
      return result;
    }

    if (holder.kind == Holder::Kind::loop) {
      session.call(holder.path, loopInterface, "Delete", callOptions());
    } else {
      const Interfaces& drive = objects.at(holder.path);
      if (property<bool>(drive, driveInterface, "CanPowerOff").value_or(false)) {
        session.call(holder.path, driveInterface, "PowerOff", callOptions());
      } else if (property<bool>(drive, driveInterface, "Ejectable").value_or(false) ||
                 property<bool>(drive, driveInterface, "MediaRemovable").value_or(false)) {
        session.call(holder.path, driveInterface, "Eject", callOptions());
      }
    }
    result.outcome = {true, {}};
  } catch (const sdbus::Error& error) {
    result.outcome = failure(error.getName() + ": " + error.getMessage());
  }
  return result;
}

bool UdisksEjector::serviceAvailable() {
  try {
    auto connection = connectToBus(options_.busAddress);
    auto bus = sdbus::createProxy(*connection, "org.freedesktop.DBus", "/org/freedesktop/DBus");
    auto ask = [&](const char* method) {
      auto message = bus->createMethodCall("org.freedesktop.DBus", method);
      auto reply = bus->callMethod(message, std::min(options_.callTimeout, busQuestionTimeout));
      std::vector<std::string> names;
      reply >> names;
      for (const auto& name : names) {
        if (name == udisksService) {
          return true;
        }
      }
      return false;
    };
    return ask("ListNames") || ask("ListActivatableNames");
  } catch (const sdbus::Error&) {
    // No bus, or a bus that does not answer: udisks2 is not there for us.
    return false;
  }
}
