#pragma once

#include <sys/types.h>

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/linux/mount_lines.h"
#include "platform/linux/sysfs_block_device.h"
#include "platform/volume_source.h"

// The mount table (listmount(2) and statmount(2), or mountinfo; libmount for the options), with
// sysfs, udev, libblkid and statvfs for the resource values. What a reading derived from a mount
// is kept while the mount stays, so a reading costs little per unchanged mount. Hidden: pseudo and
// network file systems, mounts of a folder inside a volume, mounts marked hidden ("x-gvfs-hide",
// "x-gdu.hide", "x-udisks-hide", in the table, utab or fstab), mounts on system paths unless marked
// "x-gvfs-show", devices udev tells to ignore and programs running from an image (snaps,
// AppImages). The disks holding /, /boot, /home and swap are internal whatever else they look like;
// udev's UDISKS_SYSTEM decides for the others.
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
  // Which file is at a path, as of when.
  struct FileStamp {
    enum State { unread, unknown, absent, present } state = unread;
    unsigned long long inode = 0;
    long long seconds = 0;
    long long nanoseconds = 0;
    long long size = 0;
    bool known() const { return state == absent || state == present; }
    bool operator==(const FileStamp&) const = default;
  };
  static FileStamp fileStamp(const std::filesystem::path& path);
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
  struct CachedUdevFacts {
    std::optional<UdevDatabaseStamp> stamp; // nothing: udev has no entry for the device
    UdevFacts facts;
    unsigned long reading = 0; // the last reading that used it
  };
  // What readings derived from one mount, kept while it stays in the table and redone only in
  // part when something it depends on changes: a reading then costs little per unchanged mount.
  struct SeenMount {
    MountLine line;         // mountinfo gives its ids again: the rest holds for this line only
    bool hasVolume = false; // from a block device or an image file
    Mount mount;
    unsigned long optionsGeneration = 0; // of the hide marks `hidden` was worked out with
    bool hidden = false;                 // by the marks, the path or what it runs
    std::string stamp;
    unsigned long stampGeneration = 0; // of the system disks `stamp` was made with; 0: none
    std::size_t targetHash = 0;
    unsigned long reading = 0; // the last reading that found it
  };

  // The visible paths in table order; the mounts from a block device by path in current_.
  std::optional<std::vector<MountedPath>> readTable();
  const std::vector<const MountLine*>* readLines(bool& uniqueIds);
  SeenMount freshlySeen(const MountLine& line);
  bool hiddenByMarks(const SeenMount& seen) const;
  // Which udev entries may have changed since the last reading; false: any of them.
  bool changedUdevEntries();
  Mount* findMount(const std::string& mountPath);
  Mount* currentMount(std::string_view mountPath) const;
  const SysfsDiskInfo* diskFor(Mount& mount);
  const UdevFacts& udevFor(Mount& mount);
  UdevFacts readUdevEntry(const std::string& path, const std::string& deviceName) const;
  std::optional<std::string> probeLabel(const Mount& mount) const;
  // systemDisks_: the whole disks of the mounts on /, /boot and /home and of the swap areas.
  void updateSystemDisks();
  const std::vector<std::string>& readSwapAreas();

  Options options_;
  SysfsBlockDevice sysfs_;
  std::mutex mutex_;
  std::unique_ptr<MountListing> listing_; // when the kernel has it and the table is ours
  std::unique_ptr<MountInfoFile> mountInfo_;
  std::unordered_map<std::uint64_t, SeenMount> seen_; // by mount id
  std::vector<SeenMount*> current_;    // from a block device, uncovered, in table order
  bool uniqueIds_ = false;             // seen_ is by listmount's ids
  std::vector<SeenMount*> order_;      // this reading's, in table order
  std::vector<std::size_t> pathSlots_; // places in order_, by the hash of their path
  std::vector<bool> covered_;
  std::vector<SeenMount*> coveredOrder_; // the reading covered_ was worked out for
  std::set<std::string> systemDisks_;
  unsigned long systemDisksGeneration_ = 1;
  std::string systemDisksKey_;
  std::string key_; // the reading's, kept for its room
  std::map<dev_t, std::optional<std::string>> deviceNames_;
  unsigned long optionsGeneration_ = 1;
  FileStamp utabStamp_;
  std::map<std::string, std::string> userOptions_;
  FileStamp fstabStamp_;
  std::map<std::string, std::string> fstabOptions_;
  std::map<std::string, CachedUdevFacts> udevCache_; // by device name
  unsigned long reading_ = 0;
  int udevWatch_ = -1; // inotify on udev's database, when there is one
  std::set<dev_t> changedUdevEntries_;
  bool systemSwaps_ = false; // /proc/swaps, which tells of changes
  int swapsFile_ = -1;
  std::vector<std::string> swapAreas_;
  std::size_t visible_ = 0; // in the last reading
};
