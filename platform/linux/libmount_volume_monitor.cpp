#include "platform/linux/libmount_volume_monitor.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/epoll.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
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
// missed. All of them sit in one epoll set, the one descriptor the main loop watches.
class LibmountVolumeMonitor::Watcher {
 public:
  Watcher() {
    mounts_.reset(mnt_new_monitor());
    if (mounts_ && mnt_monitor_enable_kernel(mounts_.get(), 1) == 0) {
      watch(mnt_monitor_get_fd(mounts_.get()), mountsTag);
    }
    context_.reset(udev_new());
    if (context_) {
      renames_.reset(udev_monitor_new_from_netlink(context_.get(), "udev"));
      if (renames_ &&
          udev_monitor_filter_add_match_subsystem_devtype(renames_.get(), "block", nullptr) == 0 &&
          udev_monitor_enable_receiving(renames_.get()) == 0 &&
          watch(udev_monitor_get_fd(renames_.get()), renamesTag)) {
        labels_.emplace();
      }
    }
    watch(timerFd_, timerTag);
  }

  int descriptor() const { return epollFd_; }

  // udev's events since its descriptor opened wait in its queue meanwhile.
  void loadLabels() {
    if (labels_) {
      labels_->load();
    }
  }

  // Whatever is ready, without waiting: one call of the callback for all of it.
  void handleReady(const std::function<void()>& onVolumesChanged) {
    epoll_event events[3];
    const int ready = epoll_wait(epollFd_, events, 3, 0);
    bool changed = false;
    for (int index = 0; index < ready; ++index) {
      switch (events[index].data.u32) {
      case mountsTag:
        changed = drainMountChanges() || changed;
        break;
      case renamesTag: {
        std::unique_ptr<udev_device, DeviceDeleter> device(
            udev_monitor_receive_device(renames_.get()));
        changed = (device && labels_ && labels_->isRename(device.get())) || changed;
        break;
      }
      case timerTag:
        changed = deadlinePassed() || changed;
        break;
      default:
        break;
      }
    }
    if (changed) {
      onVolumesChanged();
    }
  }

  // From any thread; the earliest of the deadlines asked for holds.
  void wakeAfter(std::chrono::milliseconds delay) {
    const auto when = std::chrono::steady_clock::now() + delay;
    std::lock_guard lock(deadlineMutex_);
    if (deadline_ && *deadline_ <= when) {
      return;
    }
    deadline_ = when;
    arm(when);
  }

  ~Watcher() {
    for (int descriptor : {epollFd_, timerFd_}) {
      if (descriptor >= 0) {
        close(descriptor);
      }
    }
  }

 private:
  static constexpr std::uint32_t mountsTag = 1;
  static constexpr std::uint32_t renamesTag = 2;
  static constexpr std::uint32_t timerTag = 3;

  bool watch(int descriptor, std::uint32_t tag) {
    if (descriptor < 0 || epollFd_ < 0) {
      return false;
    }
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u32 = tag;
    return epoll_ctl(epollFd_, EPOLL_CTL_ADD, descriptor, &event) == 0;
  }

  // The steady clock is CLOCK_MONOTONIC on Linux.
  void arm(std::chrono::steady_clock::time_point when) {
    itimerspec setting{};
    const auto since =
        std::chrono::duration_cast<std::chrono::nanoseconds>(when.time_since_epoch());
    setting.it_value.tv_sec = static_cast<time_t>(since.count() / 1'000'000'000);
    setting.it_value.tv_nsec = static_cast<long>(since.count() % 1'000'000'000);
    if (setting.it_value.tv_sec == 0 && setting.it_value.tv_nsec == 0) {
      setting.it_value.tv_nsec = 1; // zero would disarm it
    }
    timerfd_settime(timerFd_, TFD_TIMER_ABSTIME, &setting, nullptr);
  }

  bool deadlinePassed() {
    std::uint64_t expirations = 0;
    [[maybe_unused]] const auto got = read(timerFd_, &expirations, sizeof expirations);
    std::lock_guard lock(deadlineMutex_);
    if (!deadline_) {
      return false;
    }
    if (*deadline_ > std::chrono::steady_clock::now()) {
      arm(*deadline_); // an earlier setting fired after this one was asked for
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

  int epollFd_ = epoll_create1(EPOLL_CLOEXEC);
  int timerFd_ = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
  std::unique_ptr<libmnt_monitor, MonitorDeleter> mounts_;
  std::unique_ptr<udev, UdevDeleter> context_;
  std::unique_ptr<udev_monitor, UdevMonitorDeleter> renames_;
  std::optional<DeviceLabels> labels_;
  std::mutex deadlineMutex_;
  std::optional<std::chrono::steady_clock::time_point> deadline_;
};

LibmountVolumeMonitor::~LibmountVolumeMonitor() {
  stop();
}

void LibmountVolumeMonitor::start(std::function<void()> onVolumesChanged) {
  stop();
  std::lock_guard lock(mutex_);
  auto watcher = std::make_shared<Watcher>();
  if (watcher->descriptor() < 0) {
    return;
  }
  // Read before the first change can come; /run is in memory.
  watcher->loadLabels();
  {
    std::lock_guard watcherLock(watcherMutex_);
    watcher_ = watcher;
  }
  if (mainLoop_.watchOnMain(
          watcher->descriptor(),
          [watcher, callback = std::move(onVolumesChanged)] { watcher->handleReady(callback); })) {
    watchedDescriptor_ = watcher->descriptor();
  }
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
  if (watchedDescriptor_ >= 0) {
    mainLoop_.stopWatching(watchedDescriptor_);
    watchedDescriptor_ = -1;
  }
  std::lock_guard watcherLock(watcherMutex_);
  watcher_.reset();
}
