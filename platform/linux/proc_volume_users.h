#pragma once

#include <string>
#include <vector>

#include "platform/volume_users.h"

// Finds the holders of a volume in /proc: open files, working and root folders, memory maps.
// An ordinary user sees only their own processes, which are the ones they can close.
class ProcVolumeUsers : public VolumeUsers {
 public:
  explicit ProcVolumeUsers(std::string procRoot = "/proc") : procRoot_(std::move(procRoot)) {}

  std::vector<VolumeUser> usersOf(const std::vector<std::string>& mountPaths) override;

 private:
  std::string procRoot_;
};
