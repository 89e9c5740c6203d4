#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>

// What sysfs tells about the whole disk behind a block device (a partition maps to its disk).
struct SysfsDiskInfo {
  std::string device; // the name under class/block, "sdb1"
  std::string disk;   // its whole disk, "sdb"
  // The mapping's name when the device is an open dm-crypt mapping, "luks-4f1c…".
  std::optional<std::string> cryptMapping;
  bool isLoop = false;
  bool isOptical = false;
  std::optional<bool> isRemovable;
  // "usb", "mmc", "ieee1394", "thunderbolt", "nvme", "ata", "virtio", "scsi"; none when unknown.
  std::optional<std::string> bus;
  std::optional<std::string> model;

  bool isHotPluggable() const;
};

// Reads block devices from a sysfs tree ("/sys", or a prepared copy in tests).
class SysfsBlockDevice {
 public:
  explicit SysfsBlockDevice(std::filesystem::path root = "/sys");

  const std::filesystem::path& root() const { return root_; }

  // The name under class/block of a device node path or a major:minor number. Not thread-safe:
  // it remembers where the device lives for inspect().
  std::optional<std::string> nameOf(const std::string& devicePath, unsigned major,
                                    unsigned minor) const;

  // Nothing when the device is not in the tree.
  std::optional<SysfsDiskInfo> inspect(const std::string& name) const;

 private:
  std::filesystem::path root_;
  // The device's folder, as the link from its number gave it: one readlink fewer in inspect().
  mutable std::map<std::string, std::filesystem::path> folders_;
};
