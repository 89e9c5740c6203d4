#pragma once

#include <optional>
#include <string>

#include "platform/disk_describer.h"
#include "platform/linux/libmount_volume_source.h"

// Describes the disk behind a mount from sysfs: loop devices are disk images ("Disk Image" on
// the "Virtual Interface"); other disks give their model and the bus they hang on.
class LinuxDiskDescriber : public DiskDescriber {
 public:
  // Finds the device of a mount path through the source's latest reading of the mount table.
  explicit LinuxDiskDescriber(LibmountVolumeSource& volumeSource);

  std::optional<DiskDescription> describe(const std::string& mountPath) override;

 private:
  LibmountVolumeSource& volumeSource_;
};
