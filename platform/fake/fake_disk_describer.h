#pragma once

#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "platform/disk_describer.h"

// Describes the mount paths the test marked as loop-mounted image files, as the real describer
// does; other paths have no description.
class FakeDiskDescriber : public DiskDescriber {
 public:
  void setDiskImage(const std::string& mountPath);
  std::optional<DiskDescription> describe(const std::string& mountPath) override;

 private:
  std::mutex mutex_;
  std::set<std::string> images_;
};
