#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// What the system knows of one mounted volume; each value may be missing.
struct VolumeResources {
  std::optional<std::string> volumeName;
  std::optional<std::string> localizedName;
  std::optional<bool> isInternal;
  std::optional<bool> isRemovable;
  std::optional<bool> isEjectable;
  std::optional<std::int64_t> totalCapacity;
  // The block device behind the mount ("/dev/sdb1"); mounts of one device are one volume.
  // Missing for a file system with no device of its own (a FUSE mount of an image file).
  std::optional<std::string> device;
};

// The mounted volumes of the machine.
class VolumeSource {
 public:
  virtual ~VolumeSource() = default;

  // Mount paths of the mounted volumes that are not hidden, in mount-table order; a mount of a
  // folder inside a volume (a bind mount) is never one of them. Nothing when the mount table
  // cannot be read. May be called from any thread.
  virtual std::optional<std::vector<std::string>> mountedVolumePaths() = 0;

  // The resource values of the volume mounted at the path; nothing when they cannot be read.
  virtual std::optional<VolumeResources> resourceValues(const std::string& mountPath) = 0;

  // The capacity, for a source whose resource values leave it out because finding it means
  // looking inside the volume (statvfs), which holds it busy for that moment.
  virtual std::optional<std::int64_t> totalCapacity(const std::string& /*mountPath*/) {
    return std::nullopt;
  }
};
