#include "platform/fake/fake_volume_source.h"

#include <algorithm>
#include <tuple>
#include <utility>

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
  for (auto& entry : entries_) {
    entry.stamp = ++stamps_;
  }
}

void FakeVolumeSource::addVolume(std::string mountPath, std::optional<VolumeResources> resources) {
  std::lock_guard lock(mutex_);
  entries_.push_back({std::move(mountPath), std::move(resources), ++stamps_});
}

void FakeVolumeSource::removeVolume(const std::string& mountPath) {
  std::lock_guard lock(mutex_);
  std::erase_if(entries_, [&](const Entry& entry) { return entry.mountPath == mountPath; });
}

void FakeVolumeSource::setListFails(bool fails) {
  std::lock_guard lock(mutex_);
  listFails_ = fails;
}

int FakeVolumeSource::takeProbes() {
  std::lock_guard lock(mutex_);
  return std::exchange(probes_, 0);
}

std::optional<std::vector<MountedPath>> FakeVolumeSource::mountTable() {
  std::lock_guard lock(mutex_);
  if (listFails_) {
    return std::nullopt;
  }
  std::vector<MountedPath> table;
  for (const auto& entry : entries_) {
    table.push_back({entry.mountPath, std::to_string(entry.stamp)});
  }
  return table;
}

std::optional<VolumeResources> FakeVolumeSource::resourceValues(const std::string& mountPath) {
  std::lock_guard lock(mutex_);
  ++probes_;
  const auto found = std::find_if(entries_.begin(), entries_.end(),
                                  [&](const Entry& entry) { return entry.mountPath == mountPath; });
  return found == entries_.end() ? std::nullopt : found->resources;
}
