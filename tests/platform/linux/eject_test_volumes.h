#pragma once

// Loop-mounted ext4 images and busy holders for the ejection tests. Header only.

#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/platform/linux/udisks_test_bus.h"

namespace test_volumes {

// Standard output of a command that exited with status 0; nothing otherwise.
inline std::optional<std::string> commandOutput(const std::vector<std::string>& argv) {
  auto result = test_support::runCommand(argv);
  if (result.status != 0) {
    return std::nullopt;
  }
  return std::move(result.output);
}

inline bool isMountPoint(const std::filesystem::path& path) {
  std::ifstream table("/proc/self/mountinfo");
  std::string line;
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string field;
    for (int i = 0; i < 5 && fields >> field; ++i) {
    }
    if (field == path.string()) {
      return true;
    }
  }
  return false;
}

// An ext4 image with one known file, attached to a loop device (without auto-clear, so that
// the ejector's own detach is what frees it) and mounted in a folder beside it.
class LoopVolume {
 public:
  static constexpr const char* fileName = "kept.txt";

  // Nothing, with the reason in whyNot, where the machine does not allow it.
  static std::unique_ptr<LoopVolume> create(const std::filesystem::path& folder,
                                            const std::string& label, std::string& whyNot) {
    if (geteuid() != 0) {
      whyNot = "loop devices need root";
      return nullptr;
    }
    auto volume = std::unique_ptr<LoopVolume>(new LoopVolume());
    volume->image_ = folder / (label + ".img");
    volume->mountPath_ = folder / label;
    volume->content_ = "written on " + label + "\n";
    std::error_code error;
    std::filesystem::create_directories(volume->mountPath_, error);
    { std::ofstream(volume->image_).flush(); }
    std::filesystem::resize_file(volume->image_, 16 << 20, error);
    if (error || test_bus::runCommand(
                     {"/sbin/mkfs.ext4", "-q", "-F", "-L", label, volume->image_.string()}) != 0) {
      whyNot = "mkfs.ext4 failed (package e2fsprogs)";
      return nullptr;
    }
    const auto device =
        commandOutput({"/sbin/losetup", "--find", "--show", volume->image_.string()});
    if (!device || device->size() < 2) {
      whyNot = "losetup found no free loop device";
      return nullptr;
    }
    volume->device_ = device->substr(0, device->find('\n'));
    if (test_bus::runCommand(
            {"/bin/mount", "-t", "ext4", volume->device_, volume->mountPath_.string()}) != 0) {
      whyNot = "mount of " + volume->device_ + " failed";
      return nullptr;
    }
    std::ofstream(volume->mountPath_ / fileName) << volume->content_;
    sync();
    return volume;
  }

  ~LoopVolume() {
    if (isMountPoint(mountPath_)) {
      umount2(mountPath_.c_str(), MNT_DETACH);
    }
    if (attached()) {
      test_bus::runCommand({"/sbin/losetup", "--detach", device_});
    }
  }

  const std::filesystem::path& image() const { return image_; }
  const std::filesystem::path& mountPath() const { return mountPath_; }
  const std::string& device() const { return device_; }
  std::string label() const { return mountPath_.filename().string(); }

  bool mounted() const { return isMountPoint(mountPath_); }

  // Still bound to our image (the number may already serve another test's image).
  bool attached() const {
    if (device_.empty()) {
      return false;
    }
    const auto name = std::filesystem::path(device_).filename().string();
    std::ifstream backing("/sys/block/" + name + "/loop/backing_file");
    std::string file;
    return std::getline(backing, file) && file == image_.string();
  }

  // udevd may hold a freshly let-go loop device for a moment while it probes it.
  bool waitUntilDetached() const {
    udev_daemon::settle();
    return test_bus::waitUntil([&] { return !attached(); }, std::chrono::seconds(5));
  }

  // The image checks clean and still holds the file written on it.
  bool imageIntact() const {
    if (test_bus::runCommand({"/sbin/e2fsck", "-f", "-n", image_.string()}) != 0) {
      return false;
    }
    const auto file =
        commandOutput({"/sbin/debugfs", "-R", std::string("cat /") + fileName, image_.string()});
    return file && *file == content_;
  }

  // The file, read through the mount.
  bool fileReadable() const {
    std::ifstream in(mountPath_ / fileName);
    std::stringstream text;
    text << in.rdbuf();
    return text.str() == content_;
  }

 private:
  LoopVolume() = default;

  std::filesystem::path image_;
  std::filesystem::path mountPath_;
  std::string device_;
  std::string content_;
};

// A process that keeps a volume busy: its working folder is on it, or it holds a file open.
class BusyHolder {
 public:
  enum class How { workingFolder, openFile };

  BusyHolder(const std::filesystem::path& mountPath, How how) {
    pid_ = fork();
    if (pid_ == 0) {
      if (how == How::workingFolder) {
        if (chdir(mountPath.c_str()) != 0) {
          _exit(1);
        }
      } else {
        const std::string file = (mountPath / LoopVolume::fileName).string();
        const int fd = open(file.c_str(), O_RDONLY);
        if (fd < 0) {
          _exit(1);
        }
      }
      execl("/bin/sleep", "sleep", "600", static_cast<char*>(nullptr));
      _exit(127);
    }
    // Ready once the exec happened: by then the folder or file is held.
    const std::string executable = "/proc/" + std::to_string(pid_) + "/exe";
    test_bus::waitUntil([&] {
      std::error_code error;
      return std::filesystem::read_symlink(executable, error).filename() == "sleep";
    });
  }
  ~BusyHolder() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  BusyHolder(const BusyHolder&) = delete;
  BusyHolder& operator=(const BusyHolder&) = delete;

 private:
  pid_t pid_ = -1;
};

} // namespace test_volumes
