#pragma once

#include <sys/types.h>

#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/linux/sysfs_block_device.h"
#include "platform/volume_source.h"

// The mount table read through libmount, with sysfs, udev, libblkid and statvfs for the
// resource values. Hidden: pseudo and network file systems, mounts of a folder inside a volume,
// mounts marked hidden ("x-gvfs-hide", "x-gdu.hide", "x-udisks-hide", in the table, utab or
// fstab), mounts on system paths unless marked "x-gvfs-show", devices udev tells to ignore and
// programs running from an image (snaps, AppImages). The disks holding /, /boot, /home and swap are
// internal whatever else they look like; udev's UDISKS_SYSTEM decides for the others.
class LibmountVolumeSource : public VolumeSource {
 public:
  struct Options {
    std::filesystem::path sysfsRoot = "/sys";
    std::filesystem::path mountInfoPath = "/proc/self/mountinfo";
    // Where mount(8) keeps the options only user space knows ("x-gdu.hide").
    std::filesystem::path utabPath = "/run/mount/utab";
    std::filesystem::path fstabPath = "/etc/fstab";
    std::filesystem::path swapsPath = "/proc/swaps";
    // udev describes the real machine only: off for a prepared sysfs tree.
    bool useUdev = true;
    // Ask libblkid for the label when udev has not probed the device (no udevd running).
    bool probeLabels = true;
  };

  LibmountVolumeSource();
  explicit LibmountVolumeSource(Options options);
  ~LibmountVolumeSource() override;
  LibmountVolumeSource(const LibmountVolumeSource&) = delete;
  LibmountVolumeSource& operator=(const LibmountVolumeSource&) = delete;

  // Reads the mount table once; resourceValues() and diskOf() reuse that reading until the next
  // call.
  std::optional<std::vector<MountedPath>> mountTable() override;
  // Without the capacity: that is totalCapacity(), the one call here that enters the volume.
  std::optional<VolumeResources> resourceValues(const std::string& mountPath) override;
  std::optional<std::int64_t> totalCapacity(const std::string& mountPath) override;

  // The disk behind a mounted path; nothing when the path is not mounted from a block device
  // known to sysfs. An image file mounted through FUSE is a loop disk with no device name.
  std::optional<SysfsDiskInfo> diskOf(const std::string& mountPath);

 private:
  struct UdevFacts {
    bool loaded = false;
    bool probed = false; // udev has looked at the file system (ID_FS_TYPE present)
    std::optional<std::string> label;
    bool isCdrom = false;
    bool ignore = false;
    std::optional<bool> system; // UDISKS_SYSTEM
    std::optional<std::string> bus;
  };
  // What udev said of a device, kept across readings while its database entry stays the same
  // file: asking udev afresh for every device on every pass costs more than parsing the table.
  struct UdevDatabaseStamp {
    unsigned long long inode = 0;
    long long modifiedNanoseconds = 0;
    long long size = 0;
    bool operator==(const UdevDatabaseStamp&) const = default;
  };
  struct Mount {
    std::string target;
    std::string source;
    std::string fsType;
    std::optional<std::string> deviceName; // under class/block
    dev_t number = 0;                      // the block device's number, when the table gives it
    bool imageFile = false;                // a FUSE mount of an image file
    std::optional<SysfsDiskInfo> disk;
    bool diskLoaded = false;
    UdevFacts udev;
    std::optional<UdevDatabaseStamp> udevStamp;
  };
  using MountMap = std::map<std::string, Mount>;
  struct CachedUdevFacts {
    std::optional<UdevDatabaseStamp> stamp; // nothing: udev has no entry for the device
    UdevFacts facts;
    unsigned long reading = 0; // the last reading that used it
  };

  // Every mount from a block device, keyed by path, and the visible paths in table order.
  std::optional<std::pair<MountMap, std::vector<MountedPath>>> readTable();
  Mount* findMount(const std::string& mountPath);
  const SysfsDiskInfo* diskFor(Mount& mount);
  const UdevFacts& udevFor(Mount& mount);
  UdevFacts readUdevEntry(const std::string& path, const std::string& deviceName) const;
  std::optional<std::string> probeLabel(const Mount& mount) const;
  // The whole disks of the mounts on /, /boot and /home and of the swap areas.
  std::set<std::string> systemDisks(MountMap& mounts);

  Options options_;
  SysfsBlockDevice sysfs_;
  std::mutex mutex_;
  MountMap mounts_;
  std::set<std::string> systemDisks_;
  unsigned long systemDisksGeneration_ = 0;
  std::string systemDisksKey_;
  std::map<dev_t, std::optional<std::string>> deviceNames_;
  std::string utabStamp_;
  std::map<std::string, std::string> userOptions_;
  std::string fstabStamp_;
  std::map<std::string, std::string> fstabOptions_;
  std::map<std::string, CachedUdevFacts> udevCache_; // by device name
  unsigned long reading_ = 0;
};
