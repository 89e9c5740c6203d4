#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "platform/disk_describer.h"

// Disk descriptions by mount path; a path the test did not describe has no description.
class FakeDiskDescriber : public DiskDescriber {
 public:
  void setDescription(const std::string& mountPath, DiskDescription description);
  // The description of a loop-mounted image file, as the real describer gives it.
  void setDiskImage(const std::string& mountPath);
  int describeCalls() const;

  std::optional<DiskDescription> describe(const std::string& mountPath) override;

 private:
  mutable std::mutex mutex_;
  std::map<std::string, DiskDescription> descriptions_;
  int describeCalls_ = 0;
};
