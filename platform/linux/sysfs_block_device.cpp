#include "platform/linux/sysfs_block_device.h"

#include <limits.h>
#include <unistd.h>

#include <cctype>
#include <fstream>
#include <iterator>
#include <system_error>

namespace fs = std::filesystem;

namespace {

std::optional<std::string> readTrimmed(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    return std::nullopt;
  }
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) {
    return std::nullopt;
  }
  const auto last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

bool startsWithNumbered(const std::string& text, const std::string& prefix) {
  return text.size() > prefix.size() && text.compare(0, prefix.size(), prefix) == 0 &&
         std::isdigit(static_cast<unsigned char>(text[prefix.size()]));
}

// One readlink, without the lstat std::filesystem makes first.
std::optional<fs::path> readLink(const fs::path& link) {
  char target[PATH_MAX];
  const ssize_t length = ::readlink(link.c_str(), target, sizeof target);
  if (length <= 0 || static_cast<std::size_t>(length) == sizeof target) {
    return std::nullopt;
  }
  return fs::path(std::string(target, static_cast<std::size_t>(length)));
}

fs::path resolved(const fs::path& path) {
  std::error_code error;
  auto canonical = fs::canonical(path, error);
  return error ? path : canonical;
}

// Where a sysfs link points, worked out from the one link rather than resolving every
// component of the deep device path.
fs::path linkTarget(const fs::path& link) {
  std::error_code error;
  const auto target = fs::read_symlink(link, error);
  if (error) {
    return resolved(link);
  }
  return (link.parent_path() / target).lexically_normal();
}

// The bus a disk hangs on, read from the chain of devices in its sysfs path. Hot-pluggable
// buses are looked for first: a USB-to-SATA bridge still makes a USB disk.
std::optional<std::string> busOf(const fs::path& devicePath) {
  bool sawScsiHost = false;
  std::optional<std::string> fixed;
  for (const auto& part : devicePath) {
    const std::string component = part.string();
    if (startsWithNumbered(component, "usb")) {
      return "usb";
    }
    if (component == "mmc_host" || startsWithNumbered(component, "mmc")) {
      return "mmc";
    }
    if (startsWithNumbered(component, "fw") || component == "firewire") {
      return "ieee1394";
    }
    if (component == "thunderbolt" || startsWithNumbered(component, "domain")) {
      return "thunderbolt";
    }
    if (!fixed) {
      if (component == "nvme") {
        fixed = "nvme";
      } else if (startsWithNumbered(component, "ata")) {
        fixed = "ata";
      } else if (startsWithNumbered(component, "virtio")) {
        fixed = "virtio";
      }
    }
    if (startsWithNumbered(component, "host")) {
      sawScsiHost = true;
    }
  }
  if (!fixed && sawScsiHost) {
    fixed = "scsi";
  }
  return fixed;
}

} // namespace

bool SysfsDiskInfo::isHotPluggable() const {
  return bus == "usb" || bus == "mmc" || bus == "ieee1394" || bus == "thunderbolt";
}

SysfsBlockDevice::SysfsBlockDevice(fs::path root) : root_(std::move(root)) {}

std::optional<std::string> SysfsBlockDevice::nameOf(const std::string& devicePath, unsigned major,
                                                    unsigned minor) const {
  std::error_code error;
  // The device number is one readlink away; file systems with anonymous numbers (btrfs, FUSE)
  // fall back to the source path.
  if (major != 0) {
    const auto link =
        root_ / "dev" / "block" / (std::to_string(major) + ":" + std::to_string(minor));
    if (const auto target = readLink(link); target && !target->filename().empty()) {
      folders_[target->filename().string()] = (link.parent_path() / *target).lexically_normal();
      return target->filename().string();
    }
  }
  if (devicePath.rfind("/dev/", 0) == 0) {
    // Device-mapper and by-label paths are links to the real node.
    auto name = resolved(devicePath).filename().string();
    if (!name.empty() && fs::exists(root_ / "class" / "block" / name, error)) {
      return name;
    }
  }
  return std::nullopt;
}

std::optional<SysfsDiskInfo> SysfsBlockDevice::inspect(const std::string& name) const {
  std::error_code error;
  if (name.empty() || name.find('/') != std::string::npos) {
    return std::nullopt;
  }
  // Each lookup in sysfs costs a walk through it: one readlink says whether the device exists
  // and where it lives.
  const fs::path link = root_ / "class" / "block" / name;
  const auto known = folders_.find(name);
  const auto target = known != folders_.end() ? std::optional(known->second) : readLink(link);
  if (!target && !fs::exists(link, error)) {
    return std::nullopt;
  }
  SysfsDiskInfo info;
  info.device = name;
  fs::path diskPath = target ? (link.parent_path() / *target).lexically_normal() : resolved(link);
  if (const auto uuid =
          name.starts_with("dm-") ? readTrimmed(diskPath / "dm" / "uuid") : std::nullopt;
      uuid && uuid->starts_with("CRYPT-")) {
    info.cryptMapping = readTrimmed(diskPath / "dm" / "name");
  }
  // In sysfs a partition lives in its disk's folder, a disk in a "block" folder.
  if (target ? diskPath.parent_path().filename() != "block"
             : fs::exists(diskPath / "partition", error)) {
    diskPath = diskPath.parent_path();
  }
  // An encrypted or mapped volume lives on the disk beneath it.
  for (int depth = 0; depth < 4 && diskPath.filename().string().rfind("dm-", 0) == 0; ++depth) {
    fs::directory_iterator slaves(diskPath / "slaves", error);
    if (error || slaves == fs::directory_iterator()) {
      break;
    }
    diskPath = linkTarget(slaves->path());
    if (fs::exists(diskPath / "partition", error)) {
      diskPath = diskPath.parent_path();
    }
  }
  info.disk = diskPath.filename().string();
  info.isLoop = info.disk.rfind("loop", 0) == 0;
  info.isOptical = startsWithNumbered(info.disk, "sr");
  // A loop device never holds removable media: one sysfs read fewer per image.
  if (info.isLoop) {
    info.isRemovable = false;
  } else if (const auto removable = readTrimmed(diskPath / "removable")) {
    info.isRemovable = *removable == "1";
  }
  if (!info.isLoop) {
    info.bus = busOf(diskPath.lexically_relative(root_.lexically_normal()));
    info.model = readTrimmed(diskPath / "device" / "model");
    if (!info.model && info.bus == "mmc") {
      info.model = readTrimmed(diskPath / "device" / "name");
    }
  }
  return info;
}
