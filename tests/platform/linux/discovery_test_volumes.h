#pragma once

// Real mounts for the discovery tests: a private mount namespace and loop-mounted ext4 images.
// Header only.

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tests/platform/linux/udev_daemon.h"
#include "tests/support/run_command.h"

namespace discovery_test {

using test_support::CommandResult;
using test_support::findTool;
using test_support::runCommand;

// Moves the calling thread into a private copy of the mount namespace, so that mounts made by
// other programs meanwhile neither show up here nor disturb the counts, and back at the end.
// Threads and children started meanwhile share the private one.
class PrivateMountNamespace {
 public:
  PrivateMountNamespace() {
    if (geteuid() != 0) {
      error_ = "loop devices and mounts need root";
      return;
    }
    original_ = open("/proc/self/ns/mnt", O_RDONLY | O_CLOEXEC);
    if (original_ < 0 || unshare(CLONE_NEWNS) != 0) {
      error_ = std::string("cannot make a private mount namespace: ") + std::strerror(errno);
      return;
    }
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
      error_ = std::string("cannot make / private: ") + std::strerror(errno);
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

// An ext4 image with a label, attached to a loop device and mounted in a folder beside it;
// unmounted and detached again however the test ends.
class LoopImage {
 public:
  LoopImage(const std::filesystem::path& folder, const std::string& label,
            std::uintmax_t bytes = 16u << 20)
      : image_(folder / ("image-" + std::to_string(serial()))),
        mountPath_(folder / image_.filename().string().replace(0, 5, "mount")) {
    std::error_code ignored;
    std::filesystem::create_directories(mountPath_, ignored);
    const int fd = open(image_.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0 || ftruncate(fd, static_cast<off_t>(bytes)) != 0) {
      error_ = "cannot create the image file";
      if (fd >= 0) {
        close(fd);
      }
      return;
    }
    close(fd);
    if (runCommand({findTool("mkfs.ext4"), "-q", "-F", "-L", label, image_.string()}).status != 0) {
      error_ = "mkfs.ext4 failed";
      return;
    }
    const auto attached = runCommand({findTool("losetup"), "-f", "--show", image_.string()});
    if (attached.status != 0 || attached.output.empty()) {
      error_ = "losetup failed";
      return;
    }
    device_ = attached.output.substr(0, attached.output.find('\n'));
    if (!mountNow()) {
      error_ = std::string("mount failed: ") + std::strerror(errno);
      return;
    }
    udev_daemon::waitUntilProbed(device_);
  }
  ~LoopImage() {
    unmountNow();
    if (!device_.empty()) {
      runCommand({findTool("losetup"), "-d", device_});
    }
  }
  LoopImage(const LoopImage&) = delete;
  LoopImage& operator=(const LoopImage&) = delete;

  // Empty when the image is attached and mounted.
  const std::string& error() const { return error_; }
  const std::string& device() const { return device_; }
  const std::filesystem::path& mountPath() const { return mountPath_; }

  bool mountNow() {
    if (!mounted_ && !device_.empty() &&
        mount(device_.c_str(), mountPath_.c_str(), "ext4", 0, nullptr) == 0) {
      mounted_ = true;
    }
    return mounted_;
  }
  bool unmountNow() {
    if (mounted_ &&
        (umount2(mountPath_.c_str(), 0) == 0 || umount2(mountPath_.c_str(), MNT_DETACH) == 0)) {
      mounted_ = false;
    }
    return !mounted_;
  }

 private:
  static int serial() {
    static int next = 0;
    return next++;
  }

  std::filesystem::path image_;
  std::filesystem::path mountPath_;
  std::string device_;
  bool mounted_ = false;
  std::string error_;
};

} // namespace discovery_test
