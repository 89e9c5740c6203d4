#pragma once

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "tests/platform/linux/udisks_test_bus.h"

namespace test_volumes {

using test_support::findTool;
using test_support::runProgram;

// Moves this thread (and what it starts) into a private mount namespace until destroyed.
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

// A loop-mounted image with one known file; detaches only its own loop, never a reused number.
class LoopVolume {
 public:
  static constexpr const char* fileName = "kept.txt";

  // Nothing, with whyNot, where the machine does not allow it. "vfat" mounts through fusefat as
  // desktop image mounters do; autoClear attaches by mount -o loop, so the loop goes by itself.
  static std::unique_ptr<LoopVolume> create(const std::filesystem::path& folder,
                                            const std::string& label, std::string& whyNot,
                                            const std::string& fileSystem = "ext4",
                                            bool autoClear = false) {
    static int serial = 0;
    const bool fat = fileSystem == "vfat";
    auto volume = std::unique_ptr<LoopVolume>(new LoopVolume());
    volume->image_ =
        folder / ("volume-" + std::to_string(getpid()) + "-" + std::to_string(serial++) + ".img");
    volume->mountPath_ = folder / label;
    volume->content_ = "written on " + volume->mountPath_.filename().string() + "\n";
    std::error_code error;
    std::filesystem::create_directories(volume->mountPath_, error);
    std::ofstream(volume->image_).flush();
    std::filesystem::resize_file(volume->image_, 8 << 20, error);
    std::vector<std::string> format{findTool(fat ? "mkfs.vfat" : "mkfs.ext4")};
    if (!fat) {
      format.insert(format.end(), {"-q", "-F"});
    }
    if (!label.empty()) {
      format.insert(format.end(), {fat ? "-n" : "-L", label});
    }
    format.push_back(volume->image_.string());
    if (geteuid() != 0 || runProgram(format).status != 0) {
      whyNot = "needs root and " + format.front() + " (e2fsprogs, dosfstools)";
      return nullptr;
    }
    const std::string image = volume->image_.string();
    const std::string mountPath = volume->mountPath_.string();
    if (autoClear) {
      runProgram({findTool("mount"), "-o", "loop", image, mountPath});
      const auto source = runProgram({findTool("findmnt"), "-n", "-o", "SOURCE", mountPath});
      volume->device_ = source.output.substr(0, source.output.find('\n'));
    } else {
      const auto device = runProgram({findTool("losetup"), "--find", "--show", image});
      volume->device_ = device.output.substr(0, device.output.find('\n'));
      if (fat) {
        runProgram({findTool("fusefat"), "-o", "rw+,fsname=" + volume->device_, volume->device_,
                    mountPath});
      } else if (!volume->device_.empty()) {
        ::mount(volume->device_.c_str(), mountPath.c_str(), "ext4", 0, nullptr);
      }
    }
    if (volume->device_.empty() || !volume->mounted()) {
      whyNot = "cannot attach and mount " + image + " (loop devices, fusefat)";
      return nullptr;
    }
    std::ofstream(volume->mountPath_ / fileName) << volume->content_;
    sync();
    udev_daemon::waitUntilProbed(volume->device_);
    return volume;
  }

  ~LoopVolume() {
    for (auto mount = extraMounts_.rbegin(); mount != extraMounts_.rend(); ++mount) {
      umount2(mount->c_str(), MNT_DETACH);
    }
    for (int layer = 0; layer < 4 && mounted(); ++layer) {
      umount2(mountPath_.c_str(), MNT_DETACH);
    }
    if (attached()) {
      runProgram({findTool("losetup"), "--detach", device_});
    }
  }
  LoopVolume(const LoopVolume&) = delete;
  LoopVolume& operator=(const LoopVolume&) = delete;

  const std::filesystem::path& mountPath() const { return mountPath_; }
  const std::string& device() const { return device_; }

  bool mountAlsoAt(const std::filesystem::path& path, bool bindSubFolder = false) {
    std::error_code error;
    std::filesystem::create_directories(path, error);
    extraMounts_.push_back(path.string());
    if (bindSubFolder) {
      std::filesystem::create_directories(mountPath_ / "sub", error);
      return ::mount((mountPath_ / "sub").c_str(), path.c_str(), nullptr, MS_BIND, nullptr) == 0;
    }
    return ::mount(device_.c_str(), path.c_str(), "ext4", 0, nullptr) == 0;
  }

  // A file system of its own at the folder (the mount folder unless told).
  bool mounted(const std::filesystem::path& at = {}) const {
    const auto& path = at.empty() ? mountPath_ : at;
    struct stat folder {};
    struct stat parent {};
    return ::stat(path.c_str(), &folder) == 0 && ::stat(path.parent_path().c_str(), &parent) == 0 &&
           folder.st_dev != parent.st_dev;
  }

  // Still bound to our image (the number may already serve another test's image).
  bool attached() const {
    const auto name = std::filesystem::path(device_).filename().string();
    std::ifstream backing("/sys/block/" + name + "/loop/backing_file");
    std::string file;
    return !device_.empty() && std::getline(backing, file) && file == image_.string();
  }

  // udevd may hold a freshly let-go loop device for a moment while it probes it.
  bool waitUntilDetached() const {
    udev_daemon::settle();
    return test_bus::waitUntil([&] { return !attached(); }, std::chrono::seconds(5));
  }

  bool unmountBehindTheBack() const { return umount2(mountPath_.c_str(), 0) == 0; }

  // The image (ext4) checks clean and still holds the file written on it.
  bool imageIntact() const {
    const auto file = runProgram({findTool("debugfs"), "-R", "cat /kept.txt", image_.string()});
    return runProgram({findTool("e2fsck"), "-f", "-n", image_.string()}).status == 0 &&
           file.output == content_;
  }

 private:
  LoopVolume() = default;

  std::filesystem::path image_;
  std::filesystem::path mountPath_;
  std::string device_;
  std::string content_;
  std::vector<std::string> extraMounts_;
};

// A process ("sleep") that holds a file open, or runs in a mount namespace of its own.
class BusyHolder {
 public:
  explicit BusyHolder(const std::filesystem::path& file, bool ownNamespace = false)
      : process_(ownNamespace ? std::vector<std::string>{findTool("unshare"), "-m", "--propagation",
                                                         "private", "sleep", "600"}
                              : std::vector<std::string>{"/bin/sh", "-c", "exec sleep 600 3<\"$0\"",
                                                         file.string()},
                 {}, "/dev/null") {
    // Ready once the exec happened: by then the file is held.
    test_bus::waitUntil([&] {
      std::string name;
      std::getline(std::ifstream("/proc/" + std::to_string(pid()) + "/comm"), name);
      return name == "sleep";
    });
  }

  int pid() const { return process_.pid(); }

 private:
  test_bus::Daemon process_;
};

} // namespace test_volumes
