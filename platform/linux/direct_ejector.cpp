#include "platform/linux/direct_ejector.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <linux/loop.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <libcryptsetup.h>

#include "platform/linux/device_mounts.h"

namespace {

std::string errnoText(const std::string& what, int error) {
  return what + ": " + std::strerror(error);
}

EjectOutcome failed(EjectFailure failure, std::string text) {
  EjectOutcome outcome;
  outcome.failure = failure;
  outcome.errorText = std::move(text);
  return outcome;
}

// What libcryptsetup last logged as an error on this thread.
thread_local std::string cryptsetupError;

void keepCryptsetupError(int level, const char* message, void* /*unused*/) {
  if (level == CRYPT_LOG_ERROR && message != nullptr) {
    cryptsetupError = message;
    while (!cryptsetupError.empty() && cryptsetupError.back() == '\n') {
      cryptsetupError.pop_back();
    }
  }
}

// The calls we make of libcryptsetup. It is loaded when a container is first locked: linked
// in, it and the OpenSSL beneath it would load with every start of the resident program.
struct Cryptsetup {
  decltype(&crypt_init_by_name) initByName = nullptr;
  decltype(&crypt_deactivate) deactivate = nullptr;
  decltype(&crypt_free) free = nullptr;
  std::string problem;
};

template <typename Function> void findCall(void* library, const char* name, Function& function) {
  function = reinterpret_cast<Function>(::dlsym(library, name));
}

const Cryptsetup& cryptsetup() {
  static const Cryptsetup loaded = [] {
    Cryptsetup calls;
    void* library = ::dlopen("libcryptsetup.so.12", RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
      const char* error = ::dlerror();
      calls.problem = error != nullptr ? error : "libcryptsetup.so.12 cannot be loaded";
      return calls;
    }
    decltype(&crypt_set_log_callback) setLogCallback = nullptr;
    findCall(library, "crypt_set_log_callback", setLogCallback);
    findCall(library, "crypt_init_by_name", calls.initByName);
    findCall(library, "crypt_deactivate", calls.deactivate);
    findCall(library, "crypt_free", calls.free);
    if (setLogCallback == nullptr || calls.initByName == nullptr || calls.deactivate == nullptr ||
        calls.free == nullptr) {
      calls = Cryptsetup{};
      calls.problem = "libcryptsetup.so.12 lacks the calls that close a mapping";
      return calls;
    }
    setLogCallback(nullptr, keepCryptsetupError, nullptr);
    return calls;
  }();
  return loaded;
}

DirectEjector::CryptCloseResult closeWithCryptsetup(const std::string& mappingName) {
  DirectEjector::CryptCloseResult result;
  const Cryptsetup& calls = cryptsetup();
  if (calls.initByName == nullptr) {
    result.error = -ENOSYS;
    result.message = "cannot close " + mappingName + ": " + calls.problem;
    return result;
  }
  cryptsetupError.clear();
  crypt_device* device = nullptr;
  result.error = calls.initByName(&device, mappingName.c_str());
  if (result.error == 0) {
    result.error = calls.deactivate(device, mappingName.c_str());
    calls.free(device);
  }
  if (result.error != 0) {
    result.message = cryptsetupError.empty()
                         ? errnoText("cannot close " + mappingName, -result.error)
                         : cryptsetupError;
  }
  return result;
}

} // namespace

DirectEjector::DirectEjector() : DirectEjector(Paths{}) {}

DirectEjector::DirectEjector(Paths paths, CryptMappingCloser closeCryptMapping)
    : paths_(std::move(paths)),
      closeCryptMapping_(closeCryptMapping ? std::move(closeCryptMapping) : closeWithCryptsetup),
      users_(paths_.procRoot), holders_({paths_.procRoot, paths_.sysRoot, paths_.devRoot}) {}

EjectOutcome DirectEjector::eject(const EjectTarget& target) {
  const auto table = readMountTable(paths_.mountInfo);
  if (!table) {
    return failed(EjectFailure::other, "cannot read the mount table " + paths_.mountInfo);
  }
  const DeviceMounts device(target, *table, paths_.devRoot);
  const auto points = device.mountPoints(*table);
  // Unmounted by someone else since it was listed: nothing is left to do, and its device
  // (perhaps already serving another image) is none of our business any more.
  if (points.empty()) {
    EjectOutcome outcome;
    outcome.success = true;
    return outcome;
  }
  // All or nothing: while anything else holds it, not one mount goes.
  if (auto refusal = holders_.refusal(device, *table); refusal.failure != EjectFailure::none) {
    return refusal;
  }
  // Known before the unmount: a partition node of an image goes with its loop, and a mapping
  // removed as deferred goes away with its last mount, names and all.
  const auto crypt = cryptMappingOf(device.device(), paths_.sysRoot);
  const auto loop = crypt ? crypt->loop : loopDeviceOf(device.device(), paths_.sysRoot);
  const auto backing = loop ? loopBackingOf(*loop, paths_.sysRoot, paths_.devRoot) : std::nullopt;

  std::vector<std::string> unmounted;
  const auto stopped = [&](EjectOutcome outcome) {
    outcome.unmounted = unmounted;
    return outcome;
  };
  for (const auto& point : points) {
    // By identity: a path some other file system covered since the look is not ours to take.
    const auto now = readMountTable(paths_.mountInfo);
    if (!now || device.coveredAt(point, *now)) {
      auto outcome = failed(EjectFailure::held, {});
      outcome.holds.push_back({DeviceHold::Kind::coveredMountPoint, point, {}});
      return stopped(std::move(outcome));
    }
    // No MNT_FORCE, no MNT_DETACH: a volume in use must fail with EBUSY and stay mounted.
    if (umount2(point.c_str(), UMOUNT_NOFOLLOW) != 0 && errno != EINVAL) {
      const int error = errno;
      auto outcome = failed(error == EBUSY ? EjectFailure::busy : EjectFailure::other,
                            errnoText("umount2 " + point, error));
      if (error == EBUSY) {
        outcome.holders = users_.usersOf({point});
      }
      return stopped(std::move(outcome));
    }
    unmounted.push_back(point);
  }
  if (auto free = holders_.afterUnmount(device, readMountTable(paths_.mountInfo)); !free.success) {
    return stopped(std::move(free));
  }

  EjectOutcome outcome;
  outcome.success = true;
  if (crypt) {
    // ENODEV: the mapping is gone already, closed by someone else or at the unmount.
    const auto closed = closeCryptMapping_(crypt->name);
    if (closed.error != 0 && closed.error != -ENODEV) {
      outcome.leftUndone = EjectOutcome::LeftUndone::lock;
      outcome.errorText = closed.message;
      return outcome; // the loop is still in use beneath the open mapping
    }
  }
  if (!loop || !loopAttached(*loop, paths_.sysRoot)) {
    return outcome;
  }
  const std::string node = paths_.devRoot + "/" + *loop;
  const int fd = open(node.c_str(), O_RDONLY | O_CLOEXEC);
  // Still our image? An auto-clear loop may have gone and its number serve another one now.
  loop_info64 info{};
  if (fd < 0 || ioctl(fd, LOOP_GET_STATUS64, &info) != 0 || !backing ||
      LoopBacking{static_cast<dev_t>(info.lo_device), static_cast<ino_t>(info.lo_inode)} !=
          *backing) {
    if (fd >= 0) {
      close(fd);
    }
    return outcome;
  }
  const int cleared = ioctl(fd, LOOP_CLR_FD, 0);
  const int clearError = errno;
  close(fd);
  // Held open by someone, the kernel only marks the loop to go with its last user.
  if (!loopLetGo(*loop, paths_.sysRoot)) {
    outcome.leftUndone = EjectOutcome::LeftUndone::loopDetach;
    struct stat status {};
    if (::stat(node.c_str(), &status) == 0) {
      outcome.holders = holders_.openersOf(status.st_rdev);
    }
    if (cleared != 0) {
      outcome.errorText = errnoText("LOOP_CLR_FD " + node, clearError);
    }
  }
  return outcome;
}
