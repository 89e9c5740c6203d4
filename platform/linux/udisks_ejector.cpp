#include "platform/linux/udisks_ejector.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include <sdbus-c++/sdbus-c++.h>

#include "platform/linux/device_mounts.h"

namespace {

constexpr const char* udisksService = "org.freedesktop.UDisks2";
constexpr const char* udisksRoot = "/org/freedesktop/UDisks2";
constexpr const char* objectManagerInterface = "org.freedesktop.DBus.ObjectManager";
constexpr const char* blockInterface = "org.freedesktop.UDisks2.Block";
constexpr const char* filesystemInterface = "org.freedesktop.UDisks2.Filesystem";
constexpr const char* partitionInterface = "org.freedesktop.UDisks2.Partition";
constexpr const char* loopInterface = "org.freedesktop.UDisks2.Loop";
constexpr const char* driveInterface = "org.freedesktop.UDisks2.Drive";
constexpr const char* encryptedInterface = "org.freedesktop.UDisks2.Encrypted";

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

// udisks2 sends paths as byte arrays that end in a NUL.
std::string pathFromBytes(const std::vector<std::uint8_t>& bytes) {
  std::string path(bytes.begin(), bytes.end());
  if (!path.empty() && path.back() == '\0') {
    path.pop_back();
  }
  return path;
}

std::vector<std::string> mountPoints(const Interfaces& interfaces) {
  std::vector<std::string> paths;
  const auto raw = property<std::vector<std::vector<std::uint8_t>>>(interfaces, filesystemInterface,
                                                                    "MountPoints");
  if (raw) {
    for (const auto& bytes : *raw) {
      paths.push_back(pathFromBytes(bytes));
    }
  }
  return paths;
}

std::string deviceNode(const Interfaces& interfaces) {
  const auto raw = property<std::vector<std::uint8_t>>(interfaces, blockInterface, "Device");
  return raw ? pathFromBytes(*raw) : std::string();
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
      : connection_(connectToBus(options.busAddress)), options_(options) {
    connection_->enterEventLoopAsync();
  }
  ~UdisksSession() { connection_->leaveEventLoop(); }
  UdisksSession(const UdisksSession&) = delete;
  UdisksSession& operator=(const UdisksSession&) = delete;

  // Waits for the answer while a password prompt is open, up to the call timeout; without one
  // open, up to the unanswered timeout.
  sdbus::MethodReply call(const std::string& path, const std::string& interface,
                          const std::string& method,
                          const std::optional<CallOptions>& arguments = std::nullopt,
                          EjectProgress::Wait wait = {}) {
    if (options_.progress) {
      options_.progress->waitFor(std::move(wait));
    }
    auto proxy = sdbus::createProxy(*connection_, udisksService, path);
    auto message = proxy->createMethodCall(interface, method);
    if (arguments) {
      message << *arguments;
    }
    struct Answer {
      std::mutex mutex;
      std::condition_variable arrived;
      std::optional<sdbus::MethodReply> reply;
      std::optional<sdbus::Error> error;
    };
    auto answer = std::make_shared<Answer>();
    auto pending = proxy->callMethod(
        message,
        [answer](sdbus::MethodReply& reply, const sdbus::Error* error) {
          std::lock_guard lock(answer->mutex);
          if (error != nullptr) {
            answer->error = *error;
          } else {
            answer->reply = std::move(reply);
          }
          answer->arrived.notify_all();
        },
        options_.callTimeout);
    const auto start = std::chrono::steady_clock::now();
    std::unique_lock lock(answer->mutex);
    while (!answer->arrived.wait_for(lock, std::chrono::milliseconds(100),
                                     [&] { return answer->reply || answer->error; })) {
      // Without a way to tell, a password dialog may be open: the long timeout holds.
      const bool prompting = !options_.promptOpen || options_.promptOpen();
      if (!prompting && std::chrono::steady_clock::now() - start > options_.unansweredTimeout) {
        pending.cancel();
        throw sdbus::Error("org.freedesktop.DBus.Error.NoReply",
                           "udisks2 gave no answer to " + method);
      }
    }
    if (options_.progress) {
      options_.progress->waitFor({});
    }
    if (answer->error) {
      throw *answer->error;
    }
    return std::move(*answer->reply);
  }

  ManagedObjects managedObjects() {
    auto reply = call(udisksRoot, objectManagerInterface, "GetManagedObjects", std::nullopt,
                      {EjectProgress::Step::answer, {}});
    ManagedObjects objects;
    reply >> objects;
    return objects;
  }

 private:
  std::unique_ptr<sdbus::IConnection> connection_;
  const UdisksEjector::Options& options_;
};

// Interactive authorisation stays allowed: in a desktop session, polkit's agent may ask.
CallOptions callOptions() {
  return {{"auth.no_user_interaction", sdbus::Variant(false)}};
}

EjectFailure failureOf(const sdbus::Error& error) {
  const std::string& name = error.getName();
  const auto ends = [&](std::string_view suffix) { return name.ends_with(suffix); };
  if (ends("Error.NotAuthorizedDismissed") || ends("Error.Cancelled")) {
    return EjectFailure::authenticationCancelled;
  }
  if (ends("Error.NotAuthorized") || ends("Error.NotAuthorizedCanObtain")) {
    return EjectFailure::notAuthorised;
  }
  if (ends("Error.Timedout") || ends("Error.Timeout") || ends("Error.NoReply")) {
    return EjectFailure::timedOut;
  }
  if (ends("Error.DeviceBusy") || error.getMessage().find("target is busy") != std::string::npos) {
    return EjectFailure::busy;
  }
  return EjectFailure::other;
}

EjectOutcome failed(EjectFailure failure, std::string text = {}) {
  EjectOutcome outcome;
  outcome.failure = failure;
  outcome.errorText = std::move(text);
  return outcome;
}

const ManagedObjects::value_type* blockOf(const ManagedObjects& objects, const std::string& device,
                                          const std::vector<std::string>& points) {
  for (const auto& object : objects) {
    if (has(object.second, blockInterface) && !device.empty() &&
        deviceNode(object.second) == device) {
      return &object;
    }
  }
  for (const auto& object : objects) {
    for (const auto& path : mountPoints(object.second)) {
      if (std::find(points.begin(), points.end(), path) != points.end()) {
        return &object;
      }
    }
  }
  return nullptr;
}

// Another filesystem of the same loop device or drive keeps it in use.
bool holderStillMounted(const ManagedObjects& objects, const Holder& holder,
                        const sdbus::ObjectPath& except) {
  for (const auto& object : objects) {
    if (object.first == except || !has(object.second, blockInterface)) {
      continue;
    }
    const Holder other = holderOf(objects, object.second, object.first);
    if (other.kind == holder.kind && other.path == holder.path &&
        !mountPoints(object.second).empty()) {
      return true;
    }
  }
  return false;
}

} // namespace

EjectOutcome UdisksEjector::eject(const EjectTarget& target) {
  return attempt(target).outcome;
}

UdisksEjector::Attempt UdisksEjector::attempt(const EjectTarget& target) {
  Attempt result;
  const auto table = readMountTable(options_.mountInfo);
  if (!table) {
    result.outcome = failed(EjectFailure::other, "cannot read the mount table");
    return result;
  }
  const DeviceMounts device(target, *table, "/dev");
  const auto points = device.mountPoints(*table);
  // Unmounted by someone else since it was listed: nothing is left to do, and its device
  // (perhaps already serving another image) is none of our business any more.
  if (points.empty()) {
    result.volumeKnown = true;
    result.outcome.success = true;
    return result;
  }
  try {
    UdisksSession session(options_);
    ManagedObjects objects = session.managedObjects();
    const auto* block = blockOf(objects, device.device(), points);
    // udisks2 does not see every mount: a FUSE file system over a loop device, say.
    const auto known = block != nullptr ? mountPoints(block->second) : std::vector<std::string>{};
    if (std::none_of(points.begin(), points.end(), [&](const auto& point) {
          return std::find(known.begin(), known.end(), point) != known.end();
        })) {
      result.outcome = failed(EjectFailure::other, "udisks2 knows no block device mounted there");
      return result;
    }
    result.volumeKnown = true;
    const auto stopRequested = [this] {
      return options_.progress && options_.progress->stopRequested();
    };
    // All or nothing: while anything else holds it, not one mount goes.
    if (auto refusal = holders_.refusal(device, *table); refusal.failure != EjectFailure::none) {
      result.outcome = std::move(refusal);
      return result;
    }
    const sdbus::ObjectPath blockPath = block != nullptr ? block->first : sdbus::ObjectPath();
    const Interfaces blockInterfaces = block != nullptr ? block->second : Interfaces();
    const auto crypt = cryptMappingOf(device.device(), options_.sysRoot);
    const auto loop = crypt ? crypt->loop : loopDeviceOf(device.device(), options_.sysRoot);
    const auto loopBacking = loop ? loopBackingOf(*loop, options_.sysRoot, "/dev") : std::nullopt;

    // udisks2 takes one mount point per call, its own choice; ask until none is left.
    const auto gone = [&](const std::vector<MountEntry>& now) {
      std::vector<std::string> unmounted;
      for (const auto& point : points) {
        if (std::none_of(now.begin(), now.end(), [&](const MountEntry& entry) {
              return entry.target == point && device.matches(entry);
            })) {
          unmounted.push_back(point);
        }
      }
      return unmounted;
    };
    for (std::size_t round = 0; round <= points.size(); ++round) {
      const auto now = readMountTable(options_.mountInfo);
      if (now && !device.mounted(*now)) {
        break;
      }
      // It unmounts by path: a path some other file system covered since the look is not ours.
      for (const auto& point : now ? device.mountPoints(*now) : std::vector<std::string>{}) {
        if (device.coveredAt(point, *now)) {
          result.outcome = failed(EjectFailure::held);
          result.outcome.holds.push_back({DeviceHold::Kind::coveredMountPoint, point, {}});
          result.outcome.unmounted = gone(*now);
          return result;
        }
      }
      if (stopRequested()) {
        result.outcome = failed(EjectFailure::stopped);
        result.outcome.unmounted = now ? gone(*now) : std::vector<std::string>{};
        return result;
      }
      try {
        session.call(blockPath, filesystemInterface, "Unmount", callOptions(),
                     {EjectProgress::Step::unmount, now ? device.mountPoints(*now).front() : ""});
      } catch (const sdbus::Error& error) {
        const auto after = readMountTable(options_.mountInfo);
        if (after && !device.mounted(*after)) {
          break;
        }
        result.outcome = failed(failureOf(error), error.getMessage());
        if (after) {
          result.outcome.unmounted = gone(*after);
          if (result.outcome.failure == EjectFailure::busy) {
            result.outcome.holders = users_.usersOf(device.mountPoints(*after));
          }
        }
        return result;
      }
    }
    if (auto free = holders_.afterUnmount(device, readMountTable(options_.mountInfo));
        !free.success) {
      if (free.failure == EjectFailure::stillInUse) {
        free.unmounted = points; // gone from our table, held elsewhere
      }
      result.outcome = std::move(free);
      return result;
    }
    result.outcome.success = true;
    using LeftUndone = EjectOutcome::LeftUndone;

    // An unlocked container: lock it, then let go of what holds the container.
    sdbus::ObjectPath heldPath = blockPath;
    const auto backing =
        property<sdbus::ObjectPath>(blockInterfaces, blockInterface, "CryptoBackingDevice");
    if (backing && *backing != "/" && objects.contains(*backing)) {
      try {
        session.call(*backing, encryptedInterface, "Lock", callOptions(),
                     {EjectProgress::Step::lock, device.device()});
      } catch (const sdbus::Error& error) {
        result.outcome.leftUndone = LeftUndone::lock;
        result.outcome.errorText = error.getMessage();
        return result;
      }
      heldPath = *backing;
    }
    objects = session.managedObjects();
    const auto held = objects.find(heldPath);
    if (held == objects.end()) {
      return result; // gone with the unmount: an auto-clear loop, say
    }
    const Holder holder = holderOf(objects, held->second, heldPath);
    if (holder.kind == Holder::Kind::none || holderStillMounted(objects, holder, heldPath)) {
      return result;
    }
    try {
      if (holder.kind == Holder::Kind::loop) {
        const auto loopName =
            std::filesystem::path(deviceNode(objects.at(holder.path))).filename().string();
        // Still our image? An auto-clear loop may have gone and its number serve another one.
        if (loopBacking && loopBackingOf(loopName, options_.sysRoot, "/dev") == loopBacking) {
          try {
            session.call(holder.path, loopInterface, "Delete", callOptions(),
                         {EjectProgress::Step::detachLoop, "/dev/" + loopName});
          } catch (const sdbus::Error&) {
            // Already gone counts as detached ("No such device" after an auto-clear).
            if (!loopLetGo(loopName, options_.sysRoot)) {
              throw;
            }
          }
          // Held open by someone, the kernel only marks the loop to go with its last user.
          struct stat node {};
          if (!loopLetGo(loopName, options_.sysRoot) &&
              ::stat(("/dev/" + loopName).c_str(), &node) == 0) {
            result.outcome.leftUndone = LeftUndone::loopDetach;
            result.outcome.holders = holders_.openersOf(node.st_rdev);
          }
        }
      } else {
        const Interfaces& drive = objects.at(holder.path);
        if (property<bool>(drive, driveInterface, "CanPowerOff").value_or(false)) {
          session.call(holder.path, driveInterface, "PowerOff", callOptions(),
                       {EjectProgress::Step::powerOff, device.device()});
        } else if (property<bool>(drive, driveInterface, "Ejectable").value_or(false) ||
                   property<bool>(drive, driveInterface, "MediaRemovable").value_or(false)) {
          session.call(holder.path, driveInterface, "Eject", callOptions(),
                       {EjectProgress::Step::powerOff, device.device()});
        }
      }
    } catch (const sdbus::Error& error) {
      result.outcome.leftUndone =
          holder.kind == Holder::Kind::loop ? LeftUndone::loopDetach : LeftUndone::powerOff;
      result.outcome.errorText = error.getMessage();
    }
  } catch (const sdbus::Error& error) {
    result.outcome = failed(failureOf(error), error.getMessage());
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
