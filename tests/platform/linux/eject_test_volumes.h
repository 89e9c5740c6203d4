#pragma once

// Loop-mounted ext4 images and busy holders for the ejection tests. Header only.

#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
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
// the ejector's own detach is what frees it) and mounted in a folder beside it. Any label (or
// none) and any folder name: it detaches only its own loop device, never a number another test
// has reused meanwhile.
class LoopVolume {
 public:
  static constexpr const char* fileName = "kept.txt";

  // Nothing, with the reason in whyNot, where the machine does not allow it. The mount folder
  // is named after the label.
  static std::unique_ptr<LoopVolume> create(const std::filesystem::path& folder,
                                            const std::string& label, std::string& whyNot) {
    return create(folder, label, label, whyNot);
  }

  // An empty label formats the image without one.
  static std::unique_ptr<LoopVolume> create(const std::filesystem::path& folder,
                                            const std::string& label, const std::string& folderName,
                                            std::string& whyNot) {
    if (geteuid() != 0) {
      whyNot = "loop devices need root";
      return nullptr;
    }
    static int serial = 0;
    auto volume = std::unique_ptr<LoopVolume>(new LoopVolume());
    volume->image_ = folder / ("volume-" + std::to_string(serial++) + ".img");
    volume->mountPath_ = folder / folderName;
    volume->content_ = "written on " + folderName + "\n";
    std::error_code error;
    std::filesystem::create_directories(volume->mountPath_, error);
    { std::ofstream(volume->image_).flush(); }
    std::filesystem::resize_file(volume->image_, 8 << 20, error);
    std::vector<std::string> format{"/sbin/mkfs.ext4", "-q", "-F"};
    if (!label.empty()) {
      format.insert(format.end(), {"-L", label});
    }
    format.push_back(volume->image_.string());
    if (error || test_bus::runCommand(format) != 0) {
      whyNot = "mkfs.ext4 failed for label '" + label + "' (package e2fsprogs)";
      return nullptr;
    }
    const auto device =
        commandOutput({"/sbin/losetup", "--find", "--show", volume->image_.string()});
    if (!device || device->size() < 2) {
      whyNot = "losetup found no free loop device";
      return nullptr;
    }
    volume->device_ = device->substr(0, device->find('\n'));
    if (::mount(volume->device_.c_str(), volume->mountPath_.c_str(), "ext4", 0, nullptr) != 0) {
      whyNot = "mount of " + volume->device_ + " failed";
      return nullptr;
    }
    std::ofstream(volume->mountPath_ / fileName) << volume->content_;
    sync();
    udev_daemon::waitUntilProbed(volume->device_);
    return volume;
  }

  ~LoopVolume() {
    if (mounted()) {
      umount2(mountPath_.c_str(), MNT_DETACH);
    }
    if (attached()) {
      test_bus::runCommand({"/sbin/losetup", "--detach", device_});
    }
  }
  LoopVolume(const LoopVolume&) = delete;
  LoopVolume& operator=(const LoopVolume&) = delete;

  const std::filesystem::path& image() const { return image_; }
  const std::filesystem::path& mountPath() const { return mountPath_; }
  const std::string& device() const { return device_; }
  std::string label() const { return mountPath_.filename().string(); }

  // A file system of its own at the mount folder. (The mount table escapes spaces and other
  // bytes in paths; comparing devices needs no unescaping.)
  bool mounted() const {
    struct stat folder {};
    struct stat parent {};
    return ::stat(mountPath_.c_str(), &folder) == 0 &&
           ::stat(mountPath_.parent_path().c_str(), &parent) == 0 && folder.st_dev != parent.st_dev;
  }

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

  // Unmounted behind everyone's back, the loop device left attached.
  bool unmountBehindTheBack() const { return umount2(mountPath_.c_str(), 0) == 0; }

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
