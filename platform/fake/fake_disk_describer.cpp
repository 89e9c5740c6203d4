#include "platform/fake/fake_disk_describer.h"

void FakeDiskDescriber::setDiskImage(const std::string& mountPath) {
  std::lock_guard lock(mutex_);
  images_.insert(mountPath);
}

std::optional<DiskDescription> FakeDiskDescriber::describe(const std::string& mountPath) {
  std::lock_guard lock(mutex_);
  if (!images_.contains(mountPath)) {
    return std::nullopt;
  }
  return DiskDescription{"Disk Image", "Virtual Interface"};
}
