#pragma once

#include <sys/types.h>

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/ejector.h"

// One line of the mount table.
struct MountEntry {
  std::string target;
  std::string source;
  std::string fileSystemType;
  dev_t device = 0;
  // Unique across every mount namespace of the machine.
  int id = 0;
  int parentId = 0;
  // The file system's own options ("upperdir=..." for an overlay).
  std::string superOptions;
};

std::optional<std::vector<MountEntry>> readMountTable(const std::string& mountInfo);
// The same from a mountinfo text already read.
std::vector<MountEntry> parseMountTable(const std::string& text);
// The id of the mount on top at a path (statx), without following a last symbolic link.
std::optional<int> topMountId(const std::string& path);

// A device and where the mount table has it: every mount of its file system (bind mounts of
// a sub-folder included) and of a FUSE file system that names it as its source.
class DeviceMounts {
 public:
  // The device of an EjectTarget: its node, else whatever is mounted at its mount paths.
  DeviceMounts(const EjectTarget& target, const std::vector<MountEntry>& table,
               const std::string& devRoot);

  const std::string& device() const { return device_; }
  bool matches(const MountEntry& entry) const;
  // Mount points of the device in the table, innermost (longest) first.
  std::vector<std::string> mountPoints(const std::vector<MountEntry>& table) const;
  // Mounts of other devices inside one of this device's mount points.
  std::vector<std::string> nestedMounts(const std::vector<MountEntry>& table) const;
  bool mounted(const std::vector<MountEntry>& table) const;
  // Mount points of the device that another file system now covers.
  std::vector<std::string> coveredMountPoints(const std::vector<MountEntry>& table) const;
  // Whether the mount on top at the path, right now, is known and not one of the device's.
  bool coveredAt(const std::string& point, const std::vector<MountEntry>& table) const;
  // The device numbers of its file system and node.
  const std::set<dev_t>& numbers() const { return numbers_; }

 private:
  std::string device_;
  std::set<dev_t> numbers_;
};

std::string withoutTrailingSlashes(std::string path);

// The loop device ("loop3") that holds a block device node, also for a partition of a
// partitioned image; nothing for any other device.
std::optional<std::string> loopDeviceOf(const std::string& deviceNode, const std::string& sysRoot);
// An open dm-crypt mapping a block device node is, and the loop device ("loop3") beneath it when
// it lies on one or on a partition of one.
struct CryptMapping {
  std::string name;
  std::optional<std::string> loop;
};
std::optional<CryptMapping> cryptMappingOf(const std::string& deviceNode,
                                           const std::string& sysRoot);
bool loopAttached(const std::string& loopName, const std::string& sysRoot);
// An auto-clear loop lets go shortly after its last unmount; waits up to about a second.
bool loopLetGo(const std::string& loopName, const std::string& sysRoot);
// The image file behind a loop device: its device and inode. Nothing when detached.
struct LoopBacking {
  dev_t device = 0;
  ino_t inode = 0;
  friend bool operator==(const LoopBacking&, const LoopBacking&) = default;
};
std::optional<LoopBacking> loopBackingOf(const std::string& loopName, const std::string& sysRoot,
                                         const std::string& devRoot);
