#pragma once

// A loop-mounted ext4 image with any label (or none) mounted at a folder of any name, for the
// odd-names and fault tests. It detaches only its own loop device, never a number another
// test has reused meanwhile. Header only.

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "tests/platform/linux/eject_test_volumes.h"
#include "tests/platform/linux/udisks_test_bus.h"

namespace odd_volume {

struct OddName {
  std::string label;  // at most 16 bytes for ext4; empty: none
  std::string folder; // the mount folder's name
  std::string shown;  // the name the program must show
};

inline std::string longName() {
  std::string name = "Long ";
  while (name.size() < 255) {
    name += "é"; // two bytes each: 5 + 125 * 2 = 255
  }
  return name;
}

// Names that trip up formatting, escaping, menus and text direction.
inline std::vector<OddName> oddNames() {
  return {
      {"My Disk 2", "My Disk 2", "My Disk 2"},
      {"Bob's \"USB\"", "Bob's \"USB\"", "Bob's \"USB\""},
      {"%@ {} {0}", "%@ {} {0}", "%@ {} {0}"},
      {"Tom & Jerry", "Tom & Jerry", "Tom & Jerry"},
      {"גיבוי 2", "גיבוי 2", "גיבוי 2"},
      {"\u202Egnp.exe", "right-to-left override", "\u202Egnp.exe"},
      {"👩‍💻 Work", "👩‍💻 Work", "👩‍💻 Work"},
      {"", longName(), longName()},
  };
}

class OddVolume {
 public:
  static constexpr const char* fileName = "kept.txt";

  // Nothing, with the reason in whyNot, where the machine does not allow it. An empty label
  // formats the image without one.
  static std::unique_ptr<OddVolume> create(const std::filesystem::path& folder,
                                           const std::string& label, const std::string& folderName,
                                           std::string& whyNot) {
    if (geteuid() != 0) {
      whyNot = "loop devices need root";
      return nullptr;
    }
    static int serial = 0;
    auto volume = std::unique_ptr<OddVolume>(new OddVolume());
    volume->image_ = folder / ("odd-" + std::to_string(serial++) + ".img");
    volume->mountPath_ = folder / folderName;
    volume->content_ = "kept on " + folderName + "\n";
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
      whyNot = "mkfs.ext4 failed for label '" + label + "'";
      return nullptr;
    }
    const auto device =
        test_volumes::commandOutput({"/sbin/losetup", "--find", "--show", volume->image_.string()});
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
    ::sync();
    return volume;
  }

  ~OddVolume() {
    if (mounted()) {
      umount2(mountPath_.c_str(), MNT_DETACH);
    }
    if (attached()) {
      test_bus::runCommand({"/sbin/losetup", "--detach", device_});
    }
  }
  OddVolume(const OddVolume&) = delete;
  OddVolume& operator=(const OddVolume&) = delete;

  const std::filesystem::path& mountPath() const { return mountPath_; }
  const std::filesystem::path& image() const { return image_; }
  // A file system of its own at the mount folder. (The mount table escapes spaces and other
  // bytes in paths; comparing devices needs no unescaping.)
  bool mounted() const {
    struct stat folder {};
    struct stat parent {};
    return ::stat(mountPath_.c_str(), &folder) == 0 &&
           ::stat(mountPath_.parent_path().c_str(), &parent) == 0 && folder.st_dev != parent.st_dev;
  }

  bool attached() const {
    if (device_.empty()) {
      return false;
    }
    const auto name = std::filesystem::path(device_).filename().string();
    std::ifstream backing("/sys/block/" + name + "/loop/backing_file");
    std::string file;
    return std::getline(backing, file) && file == image_.string();
  }

  bool waitUntilDetached() const {
    udev_daemon::settle();
    return test_bus::waitUntil([&] { return !attached(); }, std::chrono::seconds(5));
  }

  // Unmounted behind everyone's back, the loop device left attached.
  bool unmountBehindTheBack() const { return umount2(mountPath_.c_str(), 0) == 0; }

  // The image checks clean and still holds its file.
  bool imageIntact() const {
    if (test_bus::runCommand({"/sbin/e2fsck", "-f", "-n", image_.string()}) != 0) {
      return false;
    }
    const auto file = test_volumes::commandOutput(
        {"/sbin/debugfs", "-R", std::string("cat /") + fileName, image_.string()});
    return file && *file == content_;
  }

 private:
  OddVolume() = default;

  std::filesystem::path image_;
  std::filesystem::path mountPath_;
  std::string device_;
  std::string content_;
};

} // namespace odd_volume
