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
};

// The mounted volumes of the machine.
class VolumeSource {
 public:
  virtual ~VolumeSource() = default;

  // Mount paths of the mounted volumes that are not hidden, in mount-table order;
  // nothing when the mount table cannot be read.
  virtual std::optional<std::vector<std::string>> mountedVolumePaths() = 0;

  // The resource values of the volume mounted at the path; nothing when they cannot be read.
  virtual std::optional<VolumeResources> resourceValues(const std::string& mountPath) = 0;
};
