#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "platform/volume_users.h"

// One device to eject, as the volume list knows it.
struct EjectTarget {
  // "/dev/sdb1", "/dev/loop3"; empty: found from the mount table through the mount paths.
  std::string device;
  // Every mount point of the device, shortest first.
  std::vector<std::string> mountPaths;
};

enum class EjectFailure {
  none,
  // Something holds the volume (holders names what we could find).
  busy,
  // Another volume is mounted inside this one (nestedMounts).
  nestedVolume,
  notAuthorised,
  authenticationCancelled,
  timedOut,
  // Neither udisks2 nor root rights: nobody here may unmount.
  noWayToUnmount,
  // Held by something other than a process on it (holds says what); nothing was unmounted.
  held,
  // Unmounted here, but the device is still in use (holds, holders say where, if known).
  stillInUse,
  // Stopped on request before its next step (unmounted says what was done).
  stopped,
  // Anything else; errorText carries the system's own message.
  other,
};

// Something besides an open file that keeps a device in use.
struct DeviceHold {
  enum class Kind {
    // The device is mounted in another mount namespace; user is one process there.
    otherNamespace,
    // An overlay mounted at where keeps its upper, work or lower folder on the volume.
    overlay,
    swapFile,
    // A loop device (where) has an image file on the volume attached.
    loopDevice,
    // Another file system is mounted over the mount point where.
    coveredMountPoint,
    // A process (user) holds the device node itself open.
    openDevice,
  } kind = Kind::otherNamespace;
  std::string where;
  VolumeUser user;
  friend bool operator==(const DeviceHold&, const DeviceHold&) = default;
};

struct EjectOutcome {
  // No mount of the device remains in any mount namespace and nothing holds it: an exclusive
  // open of the device succeeded after the unmount.
  bool success = false;
  // With success: what could not be done after the unmount.
  enum class LeftUndone { nothing, lock, loopDetach, powerOff } leftUndone = LeftUndone::nothing;
  EjectFailure failure = EjectFailure::none;
  // The system's own message, when it said one.
  std::string errorText;
  std::vector<VolumeUser> holders;
  std::vector<std::string> nestedMounts;
  std::vector<DeviceHold> holds;
  // On a failure part-way: the mount points already unmounted.
  std::vector<std::string> unmounted;
};

// What an ejection waits for now, shared with a caller on another thread that wants to say so,
// and that caller's request to stop before the next step.
class EjectProgress {
 public:
  enum class Step { none, answer, unmount, lock, detachLoop, powerOff };
  struct Wait {
    Step step = Step::none;
    // The mount point, container, loop device or drive.
    std::string subject;
  };

  void waitFor(Wait wait) {
    std::lock_guard lock(mutex_);
    wait_ = std::move(wait);
  }
  Wait waiting() const {
    std::lock_guard lock(mutex_);
    return wait_;
  }
  void requestStop() { stop_ = true; }
  bool stopRequested() const { return stop_; }

 private:
  mutable std::mutex mutex_;
  Wait wait_;
  std::atomic<bool> stop_ = false;
};

// Looks for every holder of the device first and unmounts nothing while there is one; then
// unmounts every mount point of the device, innermost first, each only while it is still the
// top mount there; checks the device is free; then locks an unlocked encrypted
// container, then detaches the loop device or powers off / ejects the drive.
class Ejector {
 public:
  virtual ~Ejector() = default;

  // Synchronous; never called on the main thread.
  virtual EjectOutcome eject(const EjectTarget& target) = 0;
};
