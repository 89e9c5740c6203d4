#include "platform/fake/fake_volume_source.h"

#include <algorithm>
#include <tuple>

VolumeResources FakeVolumeSource::external(std::string name, std::int64_t capacity) {
  VolumeResources resources;
  resources.volumeName = std::move(name);
  std::tie(resources.isInternal, resources.isRemovable, resources.isEjectable,
           resources.totalCapacity) = std::tuple(false, true, true, capacity);
  return resources;
}

void FakeVolumeSource::setVolumes(std::vector<Entry> entries) {
  std::lock_guard lock(mutex_);
  entries_ = std::move(entries);
}

void FakeVolumeSource::addVolume(std::string mountPath, std::optional<VolumeResources> resources) {
  std::lock_guard lock(mutex_);
  entries_.push_back({std::move(mountPath), std::move(resources)});
}

void FakeVolumeSource::removeVolume(const std::string& mountPath) {
  std::lock_guard lock(mutex_);
  std::erase_if(entries_, [&](const Entry& entry) { return entry.mountPath == mountPath; });
}

void FakeVolumeSource::setListFails(bool fails) {
  std::lock_guard lock(mutex_);
  listFails_ = fails;
}

int FakeVolumeSource::listCalls() const {
  std::lock_guard lock(mutex_);
  return listCalls_;
}

std::optional<std::vector<std::string>> FakeVolumeSource::mountedVolumePaths() {
  std::lock_guard lock(mutex_);
  ++listCalls_;
  if (listFails_) {
    return std::nullopt;
  }
  std::vector<std::string> paths;
  for (const auto& entry : entries_) {
    paths.push_back(entry.mountPath);
  }
  return paths;
}

std::optional<VolumeResources> FakeVolumeSource::resourceValues(const std::string& mountPath) {
  std::lock_guard lock(mutex_);
  const auto found = std::find_if(entries_.begin(), entries_.end(),
                                  [&](const Entry& entry) { return entry.mountPath == mountPath; });
  return found == entries_.end() ? std::nullopt : found->resources;
}
