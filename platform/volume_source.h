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

// One visible mount of the table.
struct MountedPath {
  std::string mountPath;
  // Changes whenever what resourceValues() says of the path may have changed (another mount
  // there, a new label); nothing when the source cannot tell, so the path is probed every time.
  std::optional<std::string> stamp;
};

// The mounted volumes of the machine.
class VolumeSource {
 public:
  virtual ~VolumeSource() = default;

  // Mount paths of the mounted volumes that are not hidden, in mount-table order; a mount of a
  // folder inside a volume (a bind mount) is never one of them. Reading the table looks at no
  // volume. Nothing when the mount table cannot be read. May be called from any thread.
  virtual std::optional<std::vector<MountedPath>> mountTable() = 0;

  // The resource values of the volume mounted at the path, probed alone; nothing when they cannot
  // be read.
  virtual std::optional<VolumeResources> resourceValues(const std::string& mountPath) = 0;

  // The capacity, for a source whose resource values leave it out because finding it means
  // looking inside the volume (statvfs), which holds it busy for that moment.
  virtual std::optional<std::int64_t> totalCapacity(const std::string& /*mountPath*/) {
    return std::nullopt;
  }
};
