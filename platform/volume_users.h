#pragma once

#include <string>
#include <vector>

// A process that holds something on a volume: an open file, its working or root folder, or a
// mapped file.
struct VolumeUser {
  std::string program;
  int pid = 0;
  friend bool operator==(const VolumeUser&, const VolumeUser&) = default;
};

// Finds the processes that keep a volume busy.
class VolumeUsers {
 public:
  virtual ~VolumeUsers() = default;

  // Every process (that we may look at) holding anything under one of the mount points, each
  // once, in pid order. Synchronous; reads the process table, so not on the main thread.
  virtual std::vector<VolumeUser> usersOf(const std::vector<std::string>& mountPaths) = 0;
};
