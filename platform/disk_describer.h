#pragma once

#include <optional>
#include <string>

// The description of the disk behind a volume.
struct DiskDescription {
  std::optional<std::string> deviceModel;
  std::optional<std::string> deviceProtocol;
};

class DiskDescriber {
 public:
  virtual ~DiskDescriber() = default;

  // Nothing when the disk behind the mount path cannot be found or described.
  virtual std::optional<DiskDescription> describe(const std::string& mountPath) = 0;
};
