#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/volume_source.h"

// A mount table the test writes: each mount path with its resource values, or with none to
// make reading them fail.
class FakeVolumeSource : public VolumeSource {
 public:
  struct Entry {
    std::string mountPath;
    std::optional<VolumeResources> resources;
    // Each entry the test writes is a new mount.
    int stamp = 0;
  };

  // An external, ejectable volume with a name and a size, the usual case.
  static VolumeResources external(std::string name, std::int64_t capacity = 16'000'000'000);

  void setVolumes(std::vector<Entry> entries);
  void addVolume(std::string mountPath, std::optional<VolumeResources> resources);
  void removeVolume(const std::string& mountPath);
  // While set, the mount table cannot be read at all.
  void setListFails(bool fails);

  // Resource values read since the last call.
  int takeProbes();

  std::optional<std::vector<MountedPath>> mountTable() override;
  std::optional<VolumeResources> resourceValues(const std::string& mountPath) override;

 private:
  mutable std::mutex mutex_;
  std::vector<Entry> entries_;
  bool listFails_ = false;
  int probes_ = 0;
  int stamps_ = 0;
};
