#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/volume_users.h"

// Holders by mount path, as the test says.
class FakeVolumeUsers : public VolumeUsers {
 public:
  void setUsers(const std::string& mountPath, std::vector<VolumeUser> users) {
    std::lock_guard lock(mutex_);
    users_[mountPath] = std::move(users);
  }

  std::vector<VolumeUser> usersOf(const std::vector<std::string>& mountPaths) override {
    std::lock_guard lock(mutex_);
    std::vector<VolumeUser> found;
    for (const auto& path : mountPaths) {
      const auto users = users_.find(path);
      if (users != users_.end()) {
        found.insert(found.end(), users->second.begin(), users->second.end());
      }
    }
    return found;
  }

 private:
  std::mutex mutex_;
  std::map<std::string, std::vector<VolumeUser>> users_;
};
