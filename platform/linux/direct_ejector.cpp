#include "platform/linux/direct_ejector.h"

#include <fcntl.h>
#include <linux/loop.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include <libmount/libmount.h>

namespace {

struct MountEntry {
  std::string target;
  dev_t device = 0;
};

std::optional<std::vector<MountEntry>> readMountTable(const std::string& file) {
  std::unique_ptr<libmnt_table, decltype(&mnt_unref_table)> table(
      mnt_new_table_from_file(file.c_str()), &mnt_unref_table);
  if (!table) {
    return std::nullopt;
  }
  std::unique_ptr<libmnt_iter, decltype(&mnt_free_iter)> iterator(mnt_new_iter(MNT_ITER_FORWARD),
                                                                  &mnt_free_iter);
  std::vector<MountEntry> entries;
  libmnt_fs* fs = nullptr;
  while (mnt_table_next_fs(table.get(), iterator.get(), &fs) == 0) {
    const char* target = mnt_fs_get_target(fs);
    entries.push_back({target != nullptr ? target : "", mnt_fs_get_devno(fs)});
  }
  return entries;
}

// The loop device ("loop3") behind a block device number, also for a partition of a
// partitioned image; nothing for any other device.
std::optional<std::string> loopDeviceOf(dev_t device, const std::filesystem::path& sysRoot) {
  if (device == 0) {
    return std::nullopt;
  }
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path link =
      sysRoot / "dev/block" / (std::to_string(major(device)) + ":" + std::to_string(minor(device)));
  fs::path node = fs::canonical(link, error);
  if (error) {
    return std::nullopt;
  }
  if (fs::exists(node / "partition", error)) {
    node = node.parent_path();
  }
  const std::string name = node.filename().string();
  if (!fs::is_directory(sysRoot / "block" / name / "loop", error)) {
    return std::nullopt;
  }
  return name;
}

std::string withoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') {
    path.pop_back();
  }
  return path;
}

std::string errnoText(const std::string& what, int error) {
  return what + ": " + std::strerror(error);
}

} // namespace

EjectOutcome DirectEjector::unmountAndEject(const std::string& mountPath) {
  const std::string wanted = withoutTrailingSlashes(mountPath);
  const auto entries = readMountTable(paths_.mountInfo);
  if (!entries) {
    return {false, "cannot read the mount table " + paths_.mountInfo};
  }
  // The last entry for a path is the one on top, the one umount2 will take away.
  const MountEntry* target = nullptr;
  for (const auto& entry : *entries) {
    if (entry.target == wanted) {
      target = &entry;
    }
  }
  if (target == nullptr) {
    return {false, "nothing is mounted at " + mountPath};
  }

  // The device must be known before the unmount: afterwards the mount table forgets it.
  const auto loop = loopDeviceOf(target->device, paths_.sysRoot);
  bool loopStillMounted = false;
  if (loop) {
    for (const auto& entry : *entries) {
      if (&entry != target && loopDeviceOf(entry.device, paths_.sysRoot) == loop) {
        loopStillMounted = true;
      }
    }
  }

  // No MNT_FORCE, no MNT_DETACH: a volume in use must fail with EBUSY and stay mounted.
  if (umount2(wanted.c_str(), UMOUNT_NOFOLLOW) != 0) {
    return {false, errnoText("umount2 " + wanted, errno)};
  }
  if (!loop || loopStillMounted) {
    return {true, {}};
  }

  const std::string node = paths_.devRoot + "/" + *loop;
  const int fd = open(node.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return {false, errnoText("open " + node, errno)};
  }
  const int cleared = ioctl(fd, LOOP_CLR_FD, 0);
  const int clearError = errno;
  close(fd);
  // ENXIO: the loop had auto-clear set (mount -o loop) and let go at the unmount already.
  if (cleared != 0 && clearError != ENXIO) {
    return {false, errnoText("LOOP_CLR_FD " + node, clearError)};
  }
  return {true, {}};
}
