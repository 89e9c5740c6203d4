#include "platform/linux/libmount_volume_monitor.h"

#include <dirent.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include <libmount/libmount.h>
#include <libudev.h>

namespace {

struct MonitorDeleter {
  void operator()(libmnt_monitor* monitor) const { mnt_unref_monitor(monitor); }
};
struct UdevDeleter {
  void operator()(udev* context) const { udev_unref(context); }
};
struct UdevMonitorDeleter {
  void operator()(udev_monitor* monitor) const { udev_monitor_unref(monitor); }
};
struct DeviceDeleter {
  void operator()(udev_device* device) const { udev_device_unref(device); }
};

std::optional<std::string> labelOf(udev_device* device) {
  if (const char* encoded = udev_device_get_property_value(device, "ID_FS_LABEL_ENC")) {
    return std::string(encoded);
  }
  if (const char* label = udev_device_get_property_value(device, "ID_FS_LABEL")) {
    return std::string(label);
  }
  return std::nullopt;
}

// The label udev recorded for a device, read straight from its database entry: cheaper than
// asking libudev, which also reads sysfs.
std::optional<std::string> recordedLabel(dev_t number) {
  std::ifstream entry("/run/udev/data/b" + std::to_string(major(number)) + ":" +
                      std::to_string(minor(number)));
  std::optional<std::string> plain;
  for (std::string line; std::getline(entry, line);) {
    if (line.starts_with("E:ID_FS_LABEL_ENC=")) {
      return line.substr(18);
    }
    if (line.starts_with("E:ID_FS_LABEL=")) {
      plain = line.substr(14);
    }
  }
  return plain;
}

// True when a block device of that number is mounted right now. The table is scanned by hand:
// a full parse would cost more than everything else here.
bool isMounted(dev_t wanted) {
  std::ifstream table("/proc/self/mountinfo");
  for (std::string line; std::getline(table, line);) {
    // "36 35 8:17 / /media/x rw,nosuid - vfat /dev/sdb1 rw": the device number is the third
    // field, the source the second after the " - " separator.
    unsigned majorNumber = 0;
    unsigned minorNumber = 0;
    if (std::sscanf(line.c_str(), "%*s %*s %u:%u", &majorNumber, &minorNumber) != 2) {
      continue;
    }
    dev_t number = makedev(majorNumber, minorNumber);
    // File systems with anonymous numbers (btrfs, FUSE) name their device by path.
    char source[64] = {};
    struct stat node {};
    const auto separator = line.find(" - ");
    if (majorNumber == 0 && separator != std::string::npos &&
        std::sscanf(line.c_str() + separator + 3, "%*s %63s", source) == 1 &&
        ::stat(source, &node) == 0 && S_ISBLK(node.st_mode)) {
      number = node.st_rdev;
    }
    if (number == wanted) {
      return true;
    }
  }
  return false;
}

// The udev labels of the block devices, by device number, kept from udev's own events: a mount
// costs nothing here, and only a label that really changed sends us to the mount table.
class DeviceLabels {
 public:
  // What udev recorded before we listened.
  void load() {
    DIR* folder = ::opendir("/run/udev/data");
    if (folder == nullptr) {
      return;
    }
    while (const dirent* entry = ::readdir(folder)) {
      unsigned majorNumber = 0;
      unsigned minorNumber = 0;
      if (entry->d_name[0] == 'b' &&
          std::sscanf(entry->d_name, "b%u:%u", &majorNumber, &minorNumber) == 2) {
        const dev_t number = makedev(majorNumber, minorNumber);
        labels_.try_emplace(number, recordedLabel(number));
      }
    }
    ::closedir(folder);
  }

  // True when the event gives a mounted device a label other than the one it had.
  bool isRename(udev_device* device) {
    const char* action = udev_device_get_action(device);
    const dev_t number = udev_device_get_devnum(device);
    if (action == nullptr || major(number) == 0) {
      return false;
    }
    const std::string_view what(action);
    if (what == "remove") {
      labels_.erase(number);
      return false;
    }
    auto label = labelOf(device);
    auto [found, added] = labels_.try_emplace(number, label);
    if (added || found->second == label) {
      return false;
    }
    found->second = std::move(label);
    return what == "change" && isMounted(number);
  }

 private:
  std::map<dev_t, std::optional<std::string>> labels_;
};

} // namespace

// The descriptors are opened before start() returns, so that no change made right after it is
// missed.
class LibmountVolumeMonitor::Watcher {
 public:
  Watcher() {
    mounts_.reset(mnt_new_monitor());
    if (mounts_ && mnt_monitor_enable_kernel(mounts_.get(), 1) == 0) {
      mountFd_ = mnt_monitor_get_fd(mounts_.get());
    }
    context_.reset(udev_new());
    if (context_) {
      renames_.reset(udev_monitor_new_from_netlink(context_.get(), "udev"));
      if (renames_ &&
          udev_monitor_filter_add_match_subsystem_devtype(renames_.get(), "block", nullptr) == 0 &&
          udev_monitor_enable_receiving(renames_.get()) == 0) {
        udevFd_ = udev_monitor_get_fd(renames_.get());
      }
    }
    if (udevFd_ >= 0) {
      labels_.emplace();
    }
  }

  void run(const std::function<void()>& onVolumesChanged, int stopFd) {
    thread_ = std::this_thread::get_id();
    // Off the caller's thread; udev's events since the descriptor opened wait in its queue.
    if (labels_) {
      labels_->load();
    }
    for (;;) {
      // A descriptor of -1 is ignored by poll.
      pollfd fds[4] = {
          {stopFd, POLLIN, 0}, {mountFd_, POLLIN, 0}, {udevFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
      if (poll(fds, 4, millisecondsToDeadline()) < 0) {
        if (errno == EINTR) {
          continue;
        }
        return;
      }
      if (fds[0].revents != 0) {
        return;
      }
      if (fds[3].revents != 0) {
        std::uint64_t count = 0;
        [[maybe_unused]] const auto got = read(wakeFd_, &count, sizeof count);
      }
      bool changed = fds[1].revents != 0 && drainMountChanges();
      if (fds[2].revents != 0) {
        std::unique_ptr<udev_device, DeviceDeleter> device(
            udev_monitor_receive_device(renames_.get()));
        changed = (device && labels_ && labels_->isRename(device.get())) || changed;
      }
      if (deadlinePassed() || changed) {
        onVolumesChanged();
      }
    }
  }

  // From any thread; the earliest of the deadlines asked for holds.
  void wakeAfter(std::chrono::milliseconds delay) {
    const auto when = std::chrono::steady_clock::now() + delay;
    {
      std::lock_guard lock(deadlineMutex_);
      if (deadline_ && *deadline_ <= when) {
        return;
      }
      deadline_ = when;
    }
    // The watcher's own thread is about to compute its next timeout anyway.
    if (std::this_thread::get_id() != thread_.load()) {
      const std::uint64_t one = 1;
      while (write(wakeFd_, &one, sizeof one) < 0 && errno == EINTR) {
      }
    }
  }

  ~Watcher() {
    if (wakeFd_ >= 0) {
      close(wakeFd_);
    }
  }

 private:
  int millisecondsToDeadline() {
    std::lock_guard lock(deadlineMutex_);
    if (!deadline_) {
      return -1;
    }
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(*deadline_ - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
  }

  bool deadlinePassed() {
    std::lock_guard lock(deadlineMutex_);
    if (!deadline_ || *deadline_ > std::chrono::steady_clock::now()) {
      return false;
    }
    deadline_.reset();
    return true;
  }

  // Everything that changed since the last wake-up counts as one change.
  bool drainMountChanges() {
    bool changed = false;
    const char* file = nullptr;
    int type = 0;
    while (mnt_monitor_next_change(mounts_.get(), &file, &type) == 0) {
      changed = true;
    }
    return changed;
  }

  std::unique_ptr<libmnt_monitor, MonitorDeleter> mounts_;
  std::unique_ptr<udev, UdevDeleter> context_;
  std::unique_ptr<udev_monitor, UdevMonitorDeleter> renames_;
  std::optional<DeviceLabels> labels_;
  int mountFd_ = -1;
  int udevFd_ = -1;
  int wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  std::atomic<std::thread::id> thread_;
  std::mutex deadlineMutex_;
  std::optional<std::chrono::steady_clock::time_point> deadline_;
};

LibmountVolumeMonitor::~LibmountVolumeMonitor() {
  stop();
}

void LibmountVolumeMonitor::start(std::function<void()> onVolumesChanged) {
  stop();
  std::lock_guard lock(mutex_);
  stopFd_ = eventfd(0, EFD_CLOEXEC);
  if (stopFd_ < 0) {
    return;
  }
  auto watcher = std::make_shared<Watcher>();
  {
    std::lock_guard watcherLock(watcherMutex_);
    watcher_ = watcher;
  }
  thread_ = std::thread([watcher, callback = std::move(onVolumesChanged), stopFd = stopFd_] {
    watcher->run(callback, stopFd);
  });
}

bool LibmountVolumeMonitor::callBackAfter(std::chrono::milliseconds delay) {
  std::shared_ptr<Watcher> watcher;
  {
    std::lock_guard lock(watcherMutex_);
    watcher = watcher_;
  }
  if (!watcher) {
    return false;
  }
  watcher->wakeAfter(delay);
  return true;
}

void LibmountVolumeMonitor::stop() {
  std::lock_guard lock(mutex_);
  if (thread_.joinable()) {
    const std::uint64_t one = 1;
    while (write(stopFd_, &one, sizeof one) < 0 && errno == EINTR) {
    }
    thread_.join();
  }
  {
    std::lock_guard watcherLock(watcherMutex_);
    watcher_.reset();
  }
  if (stopFd_ >= 0) {
    close(stopFd_);
    stopFd_ = -1;
  }
}
