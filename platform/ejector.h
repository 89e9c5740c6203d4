#pragma once

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
  // Anything else; errorText carries the system's own message.
  other,
};

struct EjectOutcome {
  // No mount of the device remains, checked against the mount table.
  bool success = false;
  // With success: what could not be done after the unmount.
  enum class LeftUndone { nothing, lock, loopDetach, powerOff } leftUndone = LeftUndone::nothing;
  EjectFailure failure = EjectFailure::none;
  // The system's own message, when it said one.
  std::string errorText;
  std::vector<VolumeUser> holders;
  std::vector<std::string> nestedMounts;
};

// Unmounts every mount point of a device, innermost first, then locks an unlocked encrypted
// container, then detaches the loop device or powers off / ejects the drive.
class Ejector {
 public:
  virtual ~Ejector() = default;

  // Synchronous; never called on the main thread.
  virtual EjectOutcome eject(const EjectTarget& target) = 0;
};
