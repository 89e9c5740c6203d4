#include "platform/linux/device_mounts.h"

#include <fcntl.h>
#include <linux/loop.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include <libmount/libmount.h>

#include "platform/linux/sysfs_block_device.h"

namespace {

bool isUnder(const std::string& path, const std::string& folder) {
  if (folder == "/") {
    return path.size() > 1 && path.front() == '/';
  }
  return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
         path[folder.size()] == '/';
}

std::optional<dev_t> blockDeviceNumber(const std::string& deviceNode) {
  struct stat node {};
  if (deviceNode.empty() || ::stat(deviceNode.c_str(), &node) != 0 || !S_ISBLK(node.st_mode)) {
    return std::nullopt;
  }
  return node.st_rdev;
}

std::vector<MountEntry> entriesOf(libmnt_table* table) {
  std::unique_ptr<libmnt_iter, decltype(&mnt_free_iter)> iterator(mnt_new_iter(MNT_ITER_FORWARD),
                                                                  &mnt_free_iter);
  std::vector<MountEntry> entries;
  libmnt_fs* fs = nullptr;
  while (mnt_table_next_fs(table, iterator.get(), &fs) == 0) {
    const char* target = mnt_fs_get_target(fs);
    const char* source = mnt_fs_get_source(fs);
    const char* type = mnt_fs_get_fstype(fs);
    MountEntry entry;
    entry.target = target != nullptr ? target : "";
    entry.source = source != nullptr ? source : "";
    entry.fileSystemType = type != nullptr ? type : "";
    entry.device = mnt_fs_get_devno(fs);
    entry.id = mnt_fs_get_id(fs);
    entry.parentId = mnt_fs_get_parent_id(fs);
    const char* options = mnt_fs_get_fs_options(fs);
    entry.superOptions = options != nullptr ? options : "";
    entries.push_back(std::move(entry));
  }
  return entries;
}

} // namespace

std::optional<std::vector<MountEntry>> readMountTable(const std::string& mountInfo) {
  std::unique_ptr<libmnt_table, decltype(&mnt_unref_table)> table(
      mnt_new_table_from_file(mountInfo.c_str()), &mnt_unref_table);
  if (!table) {
    return std::nullopt;
  }
  return entriesOf(table.get());
}

std::vector<MountEntry> parseMountTable(const std::string& text) {
  std::unique_ptr<libmnt_table, decltype(&mnt_unref_table)> table(mnt_new_table(),
                                                                  &mnt_unref_table);
  std::unique_ptr<FILE, decltype(&fclose)> stream(
      fmemopen(const_cast<char*>(text.data()), text.size(), "r"), &fclose);
  if (!table || !stream || text.empty() ||
      mnt_table_parse_stream(table.get(), stream.get(), "mountinfo") != 0) {
    return {};
  }
  return entriesOf(table.get());
}

std::optional<int> topMountId(const std::string& path) {
  struct statx status {};
  if (statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, STATX_MNT_ID, &status) !=
          0 ||
      (status.stx_mask & STATX_MNT_ID) == 0) {
    return std::nullopt;
  }
  return static_cast<int>(status.stx_mnt_id);
}

std::string withoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') {
    path.pop_back();
  }
  return path;
}

DeviceMounts::DeviceMounts(const EjectTarget& target, const std::vector<MountEntry>& table,
                           const std::string& devRoot) {
  std::vector<std::string> paths;
  for (const auto& path : target.mountPaths) {
    paths.push_back(withoutTrailingSlashes(path));
  }
  for (const auto& entry : table) {
    if (std::find(paths.begin(), paths.end(), entry.target) != paths.end()) {
      numbers_.insert(entry.device);
      if (target.device.empty() && device_.empty() && entry.source.starts_with(devRoot + "/")) {
        device_ = entry.source;
      }
    }
  }
  if (!target.device.empty()) {
    device_ = target.device;
  }
  struct stat node {};
  if (!device_.empty() && ::stat(device_.c_str(), &node) == 0 && S_ISBLK(node.st_mode)) {
    numbers_.insert(node.st_rdev);
  }
  numbers_.erase(0);
}

bool DeviceMounts::matches(const MountEntry& entry) const {
  return numbers_.contains(entry.device) || (!device_.empty() && entry.source == device_);
}

std::vector<std::string> DeviceMounts::mountPoints(const std::vector<MountEntry>& table) const {
  std::vector<std::string> points;
  for (const auto& entry : table) {
    if (matches(entry)) {
      points.push_back(entry.target);
    }
  }
  std::stable_sort(points.begin(), points.end(),
                   [](const auto& left, const auto& right) { return left.size() > right.size(); });
  return points;
}

std::vector<std::string> DeviceMounts::nestedMounts(const std::vector<MountEntry>& table) const {
  const auto points = mountPoints(table);
  std::vector<std::string> nested;
  for (const auto& entry : table) {
    if (matches(entry)) {
      continue;
    }
    for (const auto& point : points) {
      if (isUnder(entry.target, point)) {
        nested.push_back(entry.target);
        break;
      }
    }
  }
  return nested;
}

std::vector<std::string>
DeviceMounts::coveredMountPoints(const std::vector<MountEntry>& table) const {
  std::vector<std::string> covered;
  for (const auto& entry : table) {
    if (!matches(entry)) {
      continue;
    }
    for (const auto& over : table) {
      if (over.parentId == entry.id && over.target == entry.target && !matches(over)) {
        covered.push_back(entry.target);
      }
    }
  }
  return covered;
}

bool DeviceMounts::coveredAt(const std::string& point, const std::vector<MountEntry>& table) const {
  const auto top = topMountId(point);
  return top && std::none_of(table.begin(), table.end(), [&](const MountEntry& entry) {
           return entry.id == *top && entry.target == point && matches(entry);
         });
}

bool DeviceMounts::mounted(const std::vector<MountEntry>& table) const {
  return std::any_of(table.begin(), table.end(), [&](const auto& entry) { return matches(entry); });
}

std::optional<std::string> loopDeviceOf(const std::string& deviceNode, const std::string& sysRoot) {
  namespace fs = std::filesystem;
  const auto number = blockDeviceNumber(deviceNode);
  if (!number) {
    return std::nullopt;
  }
  std::error_code error;
  const fs::path link = fs::path(sysRoot) / "dev/block" /
                        (std::to_string(major(*number)) + ":" + std::to_string(minor(*number)));
  fs::path sysNode = fs::canonical(link, error);
  if (error) {
    return std::nullopt;
  }
  if (fs::exists(sysNode / "partition", error)) {
    sysNode = sysNode.parent_path();
  }
  const std::string name = sysNode.filename().string();
  if (!fs::is_directory(fs::path(sysRoot) / "block" / name / "loop", error)) {
    return std::nullopt;
  }
  return name;
}

std::optional<CryptMapping> cryptMappingOf(const std::string& deviceNode,
                                           const std::string& sysRoot) {
  const auto number = blockDeviceNumber(deviceNode);
  if (!number) {
    return std::nullopt;
  }
  const SysfsBlockDevice sysfs(sysRoot);
  const auto name = sysfs.nameOf(deviceNode, major(*number), minor(*number));
  const auto info = name ? sysfs.inspect(*name) : std::nullopt;
  if (!info || !info->cryptMapping) {
    return std::nullopt;
  }
  CryptMapping mapping;
  mapping.name = *info->cryptMapping;
  if (info->isLoop) {
    mapping.loop = info->disk;
  }
  return mapping;
}

bool loopAttached(const std::string& loopName, const std::string& sysRoot) {
  std::error_code error;
  return std::filesystem::exists(
      std::filesystem::path(sysRoot) / "block" / loopName / "loop/backing_file", error);
}

bool loopLetGo(const std::string& loopName, const std::string& sysRoot) {
  for (int attempt = 0; attempt < 50; ++attempt) {
    if (!loopAttached(loopName, sysRoot)) {
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

std::optional<LoopBacking> loopBackingOf(const std::string& loopName, const std::string& sysRoot,
                                         const std::string& devRoot) {
  if (!loopAttached(loopName, sysRoot)) {
    return std::nullopt;
  }
  // The kernel's own record, where we may open the node; else the file by its path.
  const int fd = ::open((devRoot + "/" + loopName).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    loop_info64 info{};
    const bool known = ioctl(fd, LOOP_GET_STATUS64, &info) == 0;
    ::close(fd);
    if (known) {
      return LoopBacking{static_cast<dev_t>(info.lo_device), static_cast<ino_t>(info.lo_inode)};
    }
  }
  std::string file;
  std::getline(std::ifstream(sysRoot + "/block/" + loopName + "/loop/backing_file"), file);
  struct stat status {};
  if (file.empty() || ::stat(file.c_str(), &status) != 0) {
    return std::nullopt;
  }
  return LoopBacking{status.st_dev, status.st_ino};
}
