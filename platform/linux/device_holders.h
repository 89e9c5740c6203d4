#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/ejector.h"
#include "platform/linux/device_mounts.h"
#include "platform/linux/proc_volume_users.h"

// Everything that keeps a block device in use, in every mount namespace: processes with files
// on it, volumes mounted inside or over its mount points, its mounts in other namespaces,
// overlays, swap files and loop devices with their files on it, and openers of its node.
// Any user may read every process's mount table, so an ordinary user sees the namespaces too.
class DeviceHolders {
 public:
  struct Paths {
    std::string procRoot = "/proc";
    std::string sysRoot = "/sys";
    std::string devRoot = "/dev";
  };

  DeviceHolders() : DeviceHolders(Paths{}) {}
  explicit DeviceHolders(Paths paths);

  // Before anything is unmounted: failure none when nothing but our own mounts (table) hold it.
  EjectOutcome refusal(const DeviceMounts& device, const std::vector<MountEntry>& table);

  // After the unmounts, given our table read afresh: failure other while that table still
  // mounts it; success when the device can be opened exclusively (or, where we may not open
  // it, no namespace mounts it any more); else stillInUse and where.
  EjectOutcome afterUnmount(const DeviceMounts& device,
                            const std::optional<std::vector<MountEntry>>& table);

  // The processes that hold a block device node open.
  std::vector<VolumeUser> openersOf(dev_t device);

 private:
  std::vector<DeviceHold> holdsBesidesOurMounts(const DeviceMounts& device,
                                                const std::vector<MountEntry>& table);
  bool onDevice(const std::string& path, const DeviceMounts& device) const;

  Paths paths_;
  ProcVolumeUsers users_;
};
