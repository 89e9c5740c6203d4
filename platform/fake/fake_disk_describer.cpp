#include "platform/fake/fake_disk_describer.h"

void FakeDiskDescriber::setDescription(const std::string& mountPath, DiskDescription description) {
  std::lock_guard lock(mutex_);
  descriptions_[mountPath] = std::move(description);
}

void FakeDiskDescriber::setDiskImage(const std::string& mountPath) {
  setDescription(mountPath, DiskDescription{"Disk Image", "Virtual Interface"});
}

int FakeDiskDescriber::describeCalls() const {
  std::lock_guard lock(mutex_);
  return describeCalls_;
}

std::optional<DiskDescription> FakeDiskDescriber::describe(const std::string& mountPath) {
  std::lock_guard lock(mutex_);
  ++describeCalls_;
  const auto found = descriptions_.find(mountPath);
  if (found == descriptions_.end()) {
    return std::nullopt;
  }
  return found->second;
}
