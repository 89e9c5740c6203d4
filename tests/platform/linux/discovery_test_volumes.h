#pragma once

// A private mount namespace for the discovery tests. Header only.

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "tests/platform/linux/eject_test_volumes.h"

namespace discovery_test {

using test_support::runCommand;
using test_volumes::LoopVolume;

// Moves the calling thread (and the threads and children it starts) into a private copy of the
// mount namespace, and back at the end: other programs' mounts meanwhile stay out of sight.
class PrivateMountNamespace {
 public:
  PrivateMountNamespace() {
    original_ = geteuid() == 0 ? open("/proc/self/ns/mnt", O_RDONLY | O_CLOEXEC) : -1;
    if (original_ < 0 || unshare(CLONE_NEWNS) != 0 ||
        mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
      error_ = std::string("no private mount namespace (mounts need root): ") + strerror(errno);
    }
  }
  ~PrivateMountNamespace() {
    if (original_ >= 0) {
      setns(original_, CLONE_NEWNS);
      close(original_);
    }
  }
  PrivateMountNamespace(const PrivateMountNamespace&) = delete;
  PrivateMountNamespace& operator=(const PrivateMountNamespace&) = delete;

  const std::string& error() const { return error_; }

 private:
  int original_ = -1;
  std::string error_;
};

} // namespace discovery_test
