#include "platform/linux/direct_ejector.h"

#include <fcntl.h>
#include <linux/loop.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/linux/device_mounts.h"

namespace {

std::string errnoText(const std::string& what, int error) {
  return what + ": " + std::strerror(error);
}

EjectOutcome failed(EjectFailure failure, std::string text) {
  EjectOutcome outcome;
  outcome.failure = failure;
  outcome.errorText = std::move(text);
  return outcome;
}

} // namespace

EjectOutcome DirectEjector::eject(const EjectTarget& target) {
  const auto table = readMountTable(paths_.mountInfo);
  if (!table) {
    return failed(EjectFailure::other, "cannot read the mount table " + paths_.mountInfo);
  }
  const DeviceMounts device(target, *table, paths_.devRoot);
  const auto points = device.mountPoints(*table);
  // Unmounted by someone else since it was listed: nothing is left to do, and its device
  // (perhaps already serving another image) is none of our business any more.
  if (points.empty()) {
    EjectOutcome outcome;
    outcome.success = true;
    return outcome;
  }
  if (auto nested = device.nestedMounts(*table); !nested.empty()) {
    auto outcome = failed(EjectFailure::nestedVolume, {});
    outcome.nestedMounts = std::move(nested);
    return outcome;
  }
  // Known before the unmount: a partition node of an image goes with its loop.
  const auto loop = loopDeviceOf(device.device(), paths_.sysRoot);

  // No MNT_FORCE, no MNT_DETACH: a volume in use must fail with EBUSY and stay mounted.
  for (const auto& point : points) {
    if (umount2(point.c_str(), UMOUNT_NOFOLLOW) != 0 && errno != EINVAL) {
      const int error = errno;
      auto outcome = failed(error == EBUSY ? EjectFailure::busy : EjectFailure::other,
                            errnoText("umount2 " + point, error));
      if (error == EBUSY) {
        if (const auto now = readMountTable(paths_.mountInfo)) {
          outcome.holders = users_.usersOf(device.mountPoints(*now));
        }
      }
      return outcome;
    }
  }
  const auto after = readMountTable(paths_.mountInfo);
  if (!after || device.mounted(*after)) {
    return failed(EjectFailure::other, {}); // "still mounted" says it all
  }

  EjectOutcome outcome;
  outcome.success = true;
  if (!loop || !loopAttached(*loop, paths_.sysRoot)) {
    return outcome;
  }
  const std::string node = paths_.devRoot + "/" + *loop;
  const int fd = open(node.c_str(), O_RDONLY | O_CLOEXEC);
  const int cleared = fd < 0 ? -1 : ioctl(fd, LOOP_CLR_FD, 0);
  const int clearError = errno;
  if (fd >= 0) {
    close(fd);
  }
  // ENXIO: an auto-clear loop (mount -o loop) let go at the unmount already.
  if (cleared != 0 && clearError != ENXIO && !loopLetGo(*loop, paths_.sysRoot)) {
    outcome.leftUndone = EjectOutcome::LeftUndone::loopDetach;
    outcome.errorText = errnoText("LOOP_CLR_FD " + node, clearError);
  }
  return outcome;
}
