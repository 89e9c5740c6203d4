#include "platform/linux/libmount_volume_source.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <sstream>
#include <memory>
#include <string_view>
#include <system_error>
#include <unordered_set>

#include <blkid/blkid.h>
#include <libmount/libmount.h>

namespace fs = std::filesystem;

namespace {

struct TableDeleter {
  void operator()(libmnt_table* table) const { mnt_unref_table(table); }
};
struct IterDeleter {
  void operator()(libmnt_iter* iter) const { mnt_free_iter(iter); }
};
struct ProbeDeleter {
  void operator()(blkid_struct_probe* probe) const { blkid_free_probe(probe); }
};
using Table = std::unique_ptr<libmnt_table, TableDeleter>;

// A damaged line is skipped rather than failing the whole table.
int skipBadLine(libmnt_table*, const char*, int) {
  return 1;
}

bool hasOption(const char* options, const char* name) {
  return options && mnt_optstr_get_option(options, name, nullptr, nullptr) == 0;
}

bool hasHideOption(const char* options) {
  // Most option strings hold no "x-" option at all: not worth splitting.
  return options && std::strstr(options, "x-") != nullptr &&
         (hasOption(options, "x-gvfs-hide") || hasOption(options, "x-gdu.hide") ||
          hasOption(options, "x-udisks-hide"));
}

// Where the system itself lives: a mount right there is no volume to offer, unless marked
// "x-gvfs-show".
bool isSystemPath(std::string_view path) {
  static const std::unordered_set<std::string_view> paths = {
      "/",    "/boot", "/boot/efi", "/efi", "/home", "/usr", "/usr/local",
      "/var", "/opt",  "/srv",      "/tmp", "/root", "/nix", "/gnu"};
  return paths.contains(path) || path.starts_with("/boot/") || path.starts_with("/var/");
}

bool isFuse(std::string_view type) {
  return type == "fuse" || type == "fuseblk" || type.starts_with("fuse.");
}

bool isRegularFile(const char* path) {
  struct stat status {};
  return ::stat(path, &status) == 0 && S_ISREG(status.st_mode);
}

// Options by mount point from fstab ("x-gvfs-hide" and "x-gvfs-show" live only there).
std::map<std::string, std::string> readFstabOptions(const fs::path& fstabPath) {
  std::map<std::string, std::string> options;
  Table table(mnt_new_table());
  if (fstabPath.empty() || !table) {
    return options;
  }
  mnt_table_set_parser_errcb(table.get(), skipBadLine);
  if (mnt_table_parse_fstab(table.get(), fstabPath.c_str()) != 0) {
    return options;
  }
  std::unique_ptr<libmnt_iter, IterDeleter> iter(mnt_new_iter(MNT_ITER_FORWARD));
  libmnt_fs* fs = nullptr;
  while (iter && mnt_table_next_fs(table.get(), iter.get(), &fs) == 0) {
    if (mnt_fs_get_target(fs) != nullptr && mnt_fs_get_options(fs) != nullptr) {
      options[mnt_fs_get_target(fs)] = mnt_fs_get_options(fs);
    }
  }
  return options;
}

// udev writes unsafe label bytes as \xNN in ID_FS_LABEL_ENC.
std::string decodeUdevText(const std::string& encoded) {
  std::string decoded;
  decoded.reserve(encoded.size());
  for (std::size_t i = 0; i < encoded.size(); ++i) {
    if (encoded[i] == '\\' && i + 3 < encoded.size() && encoded[i + 1] == 'x' &&
        std::isxdigit(static_cast<unsigned char>(encoded[i + 2])) &&
        std::isxdigit(static_cast<unsigned char>(encoded[i + 3]))) {
      decoded.push_back(static_cast<char>(std::stoi(encoded.substr(i + 2, 2), nullptr, 16)));
      i += 3;
    } else {
      decoded.push_back(encoded[i]);
    }
  }
  return decoded;
}

std::optional<std::string> nonEmpty(const char* value) {
  if (value == nullptr || *value == '\0') {
    return std::nullopt;
  }
  return std::string(value);
}

// utab lines are "SRC=… TARGET=… ROOT=… OPTS=…" with escaped values; libmount reads them only
// for its own mount context, so we read the two fields we need ourselves.
std::map<std::string, std::string> readUserOptions(const fs::path& utabPath) {
  std::map<std::string, std::string> userOptions;
  if (utabPath.empty()) {
    return userOptions;
  }
  std::ifstream in(utabPath);
  std::string line;
  while (std::getline(in, line)) {
    std::optional<std::string> target;
    std::optional<std::string> options;
    std::istringstream fields(line);
    std::string field;
    while (fields >> field) {
      const auto separator = field.find('=');
      if (separator == std::string::npos) {
        continue;
      }
      std::unique_ptr<char, decltype(&free)> value(mnt_unmangle(field.c_str() + separator + 1),
                                                   &free);
      if (!value) {
        continue;
      }
      const std::string key = field.substr(0, separator);
      if (key == "TARGET") {
        target = value.get();
      } else if (key == "OPTS") {
        options = value.get();
      }
    }
    if (target && options) {
      userOptions[*target] = *options;
    }
  }
  return userOptions;
}

// The udev database entry of a device node: udevd replaces the file (a new inode) each time it
// handles an event for the device, so an unchanged stamp means unchanged properties.
struct UdevEntry {
  std::string path;
  bool exists = false;
  struct stat status {};
};
std::optional<UdevEntry> udevDatabaseEntry(const std::string& deviceName, dev_t number) {
  struct stat node {};
  if (major(number) == 0) {
    if (::stat(("/dev/" + deviceName).c_str(), &node) != 0 || !S_ISBLK(node.st_mode)) {
      return std::nullopt; // unknown: udev knows nothing we can find
    }
    number = node.st_rdev;
  }
  UdevEntry entry;
  entry.path =
      "/run/udev/data/b" + std::to_string(major(number)) + ":" + std::to_string(minor(number));
  entry.exists = ::stat(entry.path.c_str(), &entry.status) == 0;
  return entry;
}

// A small file read whole with one read: sysfs attributes and udev's entries, read for every
// volume, cost less without a stream around them.
std::string smallFile(const fs::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return {};
  }
  std::string text;
  std::size_t length = 0;
  // A read that fills the buffer may have left more behind.
  for (ssize_t got = 1; got > 0 && length == text.size();) {
    text.resize(length + 8192);
    got = ::read(fd, text.data() + length, text.size() - length);
    length += got > 0 ? static_cast<std::size_t>(got) : 0;
  }
  ::close(fd);
  text.resize(length);
  return text;
}

// The devices and files /proc/swaps names, first column, unescaped.
std::vector<std::string> parseSwapAreas(std::string_view text) {
  std::vector<std::string> areas;
  text.remove_prefix(std::min(text.find('\n'), text.size())); // the heading
  while (!text.empty()) {
    text.remove_prefix(1);
    const auto end = std::min(text.find('\n'), text.size());
    const std::string area(text.substr(0, std::min(text.find_first_of(" \t"), end)));
    text.remove_prefix(end);
    if (!area.empty()) {
      std::unique_ptr<char, decltype(&free)> plain(mnt_unmangle(area.c_str()), &free);
      areas.push_back(plain ? plain.get() : area);
    }
  }
  return areas;
}

// udevd's entry may describe an earlier medium of the device, a loop number used again while
// udevd was stopped or before it caught up. Its by-diskseq link then names another sequence
// number than the kernel's.
bool describesAnEarlierMedium(const fs::path& sysfsRoot, const std::string& deviceName,
                              const std::vector<std::string>& links) {
  const fs::path device = sysfsRoot / "class" / "block" / deviceName;
  std::string sequence = smallFile(device / "diskseq");
  if (sequence.empty()) {
    sequence = smallFile(device / ".." / "diskseq"); // a partition: its disk's
  }
  sequence.erase(std::min(sequence.find('\n'), sequence.size()));
  if (sequence.empty()) {
    return false;
  }
  constexpr std::string_view linkFolder = "disk/by-diskseq/";
  const std::string current = std::string(linkFolder) + sequence;
  bool linked = false;
  for (const std::string_view link : links) {
    if (!link.starts_with(linkFolder)) {
      continue;
    }
    if (link == current || link.starts_with(current + "-part")) {
      return false;
    }
    linked = true;
  }
  return linked;
}

// A snap is an image kept under /var/lib/snapd and mounted under /snap (through a loop device,
// or squashfuse in a container); an AppImage mounts itself through FUSE under /tmp/.mount_*.
bool isRunningSoftware(const std::string& target, std::string_view fsType,
                       const std::string& source, const std::optional<std::string>& deviceName,
                       const fs::path& sysfsRoot) {
  if (target.starts_with("/tmp/.mount_") || target == "/snap" || target.starts_with("/snap/")) {
    return true;
  }
  std::string backing = source;
  if ((fsType == "squashfs" || fsType == "erofs") && deviceName &&
      deviceName->starts_with("loop")) {
    std::ifstream in(sysfsRoot / "block" / *deviceName / "loop" / "backing_file");
    std::getline(in, backing);
  }
  return backing.starts_with("/var/lib/snapd/");
}

} // namespace

LibmountVolumeSource::LibmountVolumeSource() : LibmountVolumeSource(Options{}) {}

LibmountVolumeSource::LibmountVolumeSource(Options options)
    : options_(std::move(options)), sysfs_(options_.sysfsRoot),
      mountInfo_(std::make_unique<MountInfoFile>(options_.mountInfoPath)) {
  systemSwaps_ = options_.swapsPath == "/proc/swaps";
  // The calls read the caller's own table only: another file is another table.
  if (options_.mountInfoPath == "/proc/self/mountinfo") {
    listing_ = std::make_unique<MountListing>();
  }
  // udevd replaces a device's entry whenever it handles an event for it: watching its folder
  // spares a look at every volume's entry on every reading.
  if (options_.useUdev) {
    udevWatch_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (udevWatch_ >= 0 && ::inotify_add_watch(udevWatch_, "/run/udev/data",
                                               IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM |
                                                   IN_DELETE | IN_CREATE) < 0) {
      ::close(udevWatch_);
      udevWatch_ = -1;
    }
  }
}

LibmountVolumeSource::FileStamp LibmountVolumeSource::fileStamp(const fs::path& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) {
    return {errno == ENOENT || errno == ENOTDIR ? FileStamp::absent : FileStamp::unknown};
  }
  return {FileStamp::present, status.st_ino, status.st_mtim.tv_sec, status.st_mtim.tv_nsec,
          status.st_size};
}

LibmountVolumeSource::~LibmountVolumeSource() {
  for (const int file : {udevWatch_, swapsFile_}) {
    if (file >= 0) {
      ::close(file);
    }
  }
}

const std::vector<const MountLine*>* LibmountVolumeSource::readLines(bool& uniqueIds) {
  if (listing_ && listing_->available()) {
    if (const auto* lines = listing_->read()) {
      uniqueIds = true;
      return lines;
    }
  }
  uniqueIds = false;
  return mountInfo_->read();
}

bool LibmountVolumeSource::changedUdevEntries() {
  changedUdevEntries_.clear();
  if (!options_.useUdev) {
    return true; // nothing read from udev, nothing to change
  }
  if (udevWatch_ < 0) {
    return false;
  }
  alignas(inotify_event) char buffer[4096];
  for (;;) {
    const ssize_t got = ::read(udevWatch_, buffer, sizeof buffer);
    if (got <= 0) {
      return got < 0 && errno == EAGAIN;
    }
    for (ssize_t at = 0; at < got;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      if ((event->mask & (IN_Q_OVERFLOW | IN_IGNORED)) != 0) {
        // Events lost, or the folder gone: every entry is looked at from now on.
        if ((event->mask & IN_IGNORED) != 0) {
          ::close(udevWatch_);
          udevWatch_ = -1;
        }
        while (udevWatch_ >= 0 && ::read(udevWatch_, buffer, sizeof buffer) > 0) {
        }
        return false;
      }
      unsigned majorNumber = 0;
      unsigned minorNumber = 0;
      if (event->len > 0 && std::sscanf(event->name, "b%u:%u", &majorNumber, &minorNumber) == 2) {
        changedUdevEntries_.insert(makedev(majorNumber, minorNumber));
      }
    }
  }
}

LibmountVolumeSource::SeenMount LibmountVolumeSource::freshlySeen(const MountLine& line) {
  SeenMount seen;
  seen.line = line;
  seen.targetHash = std::hash<std::string>{}(line.target);
  if (mnt_fstype_is_netfs(line.fsType.c_str()) || line.source.empty()) {
    return seen;
  }
  Mount& mount = seen.mount;
  mount.target = line.target;
  mount.source = line.source;
  mount.fsType = line.fsType;
  // libmount counts plain "fuse" as a pseudo file system, yet a FUSE driver that reads a disk
  // image names the image, or the loop device showing it.
  const bool fuse = isFuse(mount.fsType);
  mount.imageFile = fuse && mount.source.starts_with('/') && !mount.source.starts_with("/dev/") &&
                    isRegularFile(mount.source.c_str());
  if ((!fuse && mnt_fstype_is_pseudofs(mount.fsType.c_str())) ||
      (!mount.imageFile && !mount.source.starts_with("/dev/"))) {
    return seen;
  }
  seen.hasVolume = true;
  const dev_t devno = line.number;
  if (major(devno) != 0) {
    // A device number names the same device as long as it exists: one readlink per device.
    mount.number = devno;
    auto [known, added] = deviceNames_.try_emplace(devno);
    if (added || !known->second) {
      known->second = sysfs_.nameOf(mount.source, major(devno), minor(devno));
    }
    mount.deviceName = known->second;
  } else if (!mount.imageFile) {
    mount.deviceName = sysfs_.nameOf(mount.source, 0, 0);
  }
  return seen;
}

bool LibmountVolumeSource::hiddenByMarks(const SeenMount& seen) const {
  const Mount& mount = seen.mount;
  bool hidden = hasHideOption(seen.line.mountOptions.c_str()) ||
                hasHideOption(seen.line.superOptions.c_str());
  bool shown = false;
  for (const auto* table : {&userOptions_, &fstabOptions_}) {
    if (const auto found = table->find(mount.target); found != table->end()) {
      hidden = hidden || hasHideOption(found->second.c_str());
      shown = shown || hasOption(found->second.c_str(), "x-gvfs-show");
    }
  }
  hidden = hidden || (isSystemPath(mount.target) && !shown);
  // A bind mount of a folder inside a volume is not the volume (btrfs subvolumes are).
  const std::string& root = seen.line.root;
  if (!root.empty() && root != "/" && mount.fsType != "btrfs") {
    hidden = true;
  }
  // Snaps and AppImages are programs running from an image, not volumes; other read-only
  // images (squashfs, erofs) are disk images like any other.
  return hidden || isRunningSoftware(mount.target, mount.fsType, mount.source, mount.deviceName,
                                     sysfs_.root());
}

std::optional<std::vector<MountedPath>> LibmountVolumeSource::readTable() {
  bool uniqueIds = false;
  const auto* lines = readLines(uniqueIds);
  if (lines == nullptr) {
    return std::nullopt;
  }
  if (uniqueIds != uniqueIds_) {
    seen_.clear(); // the ids of one reader mean nothing to the other
    uniqueIds_ = uniqueIds;
  }
  ++reading_;
  // Options such as x-gdu.hide never reach the kernel; mount(8) keeps them in utab, and the
  // desktop's own marks stay in fstab.
  // Both are parsed again only when they changed.
  if (const auto stamp = fileStamp(options_.utabPath); !stamp.known() || stamp != utabStamp_) {
    userOptions_ = readUserOptions(options_.utabPath);
    utabStamp_ = stamp;
    ++optionsGeneration_;
  }
  if (const auto stamp = fileStamp(options_.fstabPath); !stamp.known() || stamp != fstabStamp_) {
    fstabOptions_ = readFstabOptions(options_.fstabPath);
    fstabStamp_ = stamp;
    ++optionsGeneration_;
  }
  const bool udevEntriesKnown = changedUdevEntries();

  order_.clear();
  bool changed = false;
  for (const MountLine* line : *lines) {
    auto [found, added] = seen_.try_emplace(line->id);
    SeenMount& seen = found->second;
    // A listed mount keeps its line unless the listing had to ask about it again.
    if (added || ((!uniqueIds || listing_->askedAgain()) && !(seen.line == *line))) {
      seen = freshlySeen(*line);
      changed = true;
    }
    seen.reading = reading_;
    order_.push_back(&seen);
  }
  if (seen_.size() != order_.size()) {
    std::erase_if(seen_, [this](const auto& entry) { return entry.second.reading != reading_; });
    changed = true;
  }
  // A mount covered by a later mount on the same path cannot be seen.
  if (changed || order_ != coveredOrder_) {
    // From the last mount back, a path met before is covered: a table of paths by hash.
    covered_.assign(order_.size(), false);
    const std::size_t mask = std::bit_ceil(order_.size() * 2 + 1) - 1;
    constexpr auto empty = std::numeric_limits<std::size_t>::max();
    pathSlots_.assign(mask + 1, empty);
    for (std::size_t i = order_.size(); i-- > 0;) {
      const SeenMount& seen = *order_[i];
      std::size_t slot = seen.targetHash & mask;
      for (; pathSlots_[slot] != empty && !covered_[i]; slot = (slot + 1) & mask) {
        const SeenMount& later = *order_[pathSlots_[slot]];
        covered_[i] = later.targetHash == seen.targetHash && later.line.target == seen.line.target;
      }
      if (!covered_[i]) {
        pathSlots_[slot] = i;
      }
    }
    coveredOrder_ = order_;
  }

  current_.clear();
  for (std::size_t i = 0; i < order_.size(); ++i) {
    SeenMount& seen = *order_[i];
    if (covered_[i] || !seen.hasVolume) {
      continue;
    }
    Mount& mount = seen.mount;
    current_.push_back(&seen);
    if (seen.optionsGeneration != optionsGeneration_) {
      seen.hidden = hiddenByMarks(seen);
      seen.optionsGeneration = optionsGeneration_;
    }
    if (!udevEntriesKnown || major(mount.number) == 0 ||
        changedUdevEntries_.contains(mount.number)) {
      // udevd has handled an event for the device: what sysfs says may have changed too.
      mount.udev = {};
      mount.udevStamp.reset();
      mount.diskLoaded = false;
      mount.disk.reset();
      seen.stampGeneration = 0;
    }
    if (!seen.hidden) {
      udevFor(mount);
    }
  }
  updateSystemDisks();
  std::vector<MountedPath> visible;
  visible.reserve(visible_);
  for (SeenMount* seen : current_) {
    const Mount& mount = seen->mount;
    if (seen->hidden || mount.udev.ignore) {
      continue;
    }
    if (seen->stampGeneration != systemDisksGeneration_) {
      // The kernel gives every mount a new id: with the udev entry's, it tells whether anything
      // resourceValues() reads may have changed.
      const auto& udev = mount.udevStamp;
      seen->stamp =
          std::to_string(seen->line.id) + ':' + mount.source + ':' +
          (udev ? std::to_string(udev->inode) + ':' + std::to_string(udev->modifiedNanoseconds) +
                      ':' + std::to_string(udev->size)
                : std::string()) +
          ':' + std::to_string(systemDisksGeneration_);
      seen->stampGeneration = systemDisksGeneration_;
    }
    visible.push_back({mount.target, seen->stamp});
  }
  visible_ = visible.size();
  // Kept a while after its device was last seen, so that mounting it again asks udev nothing.
  if (reading_ % 64 == 0) {
    std::erase_if(udevCache_,
                  [this](const auto& cached) { return reading_ - cached.second.reading > 128; });
  }
  return visible;
}

LibmountVolumeSource::Mount* LibmountVolumeSource::currentMount(std::string_view mountPath) const {
  for (SeenMount* seen : current_) {
    if (seen->mount.target == mountPath) {
      return &seen->mount;
    }
  }
  return nullptr;
}

const std::vector<std::string>& LibmountVolumeSource::readSwapAreas() {
  if (!systemSwaps_) {
    swapAreas_ = parseSwapAreas(smallFile(options_.swapsPath));
    return swapAreas_;
  }
  // The kernel flags the open file on every swapon and swapoff: read again only then.
  bool changed = swapsFile_ < 0;
  if (changed) {
    swapsFile_ = ::open("/proc/swaps", O_RDONLY | O_CLOEXEC);
  } else {
    pollfd flagged{swapsFile_, POLLPRI, 0};
    changed = ::poll(&flagged, 1, 0) != 0 && (flagged.revents & (POLLPRI | POLLERR)) != 0;
  }
  if (changed && swapsFile_ >= 0) {
    std::string text;
    for (ssize_t got = 1; got > 0;) {
      text.resize(text.size() + 4096);
      got = ::pread(swapsFile_, text.data() + text.size() - 4096, 4096,
                    static_cast<off_t>(text.size() - 4096));
      text.resize(text.size() - 4096 + static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
    }
    swapAreas_ = parseSwapAreas(text);
  }
  return swapAreas_;
}

void LibmountVolumeSource::updateSystemDisks() {
  static constexpr const char* systemMounts[] = {"/", "/boot", "/boot/efi", "/efi", "/home"};
  // They hardly ever change: worked out again only when their devices or the swap areas do.
  const auto& swapAreas = readSwapAreas();
  key_.clear();
  for (const char* path : systemMounts) {
    if (const Mount* mount = currentMount(path)) {
      key_.append(mount->source).push_back('\n');
    }
  }
  for (const auto& area : swapAreas) {
    key_.append(area).push_back('\n');
  }
  if (key_ == systemDisksKey_) {
    return;
  }
  systemDisksKey_ = key_;
  std::set<std::string> disks;
  for (const char* path : systemMounts) {
    if (Mount* mount = currentMount(path)) {
      if (const SysfsDiskInfo* disk = diskFor(*mount)) {
        disks.insert(disk->disk);
      }
    }
  }
  // A swap partition is its own device; a swap file lives on the device of its file system.
  for (const auto& area : swapAreas) {
    struct stat status {};
    dev_t number = 0; // unknown: the name is then taken from the path
    if (::stat(area.c_str(), &status) == 0) {
      number = S_ISBLK(status.st_mode) ? status.st_rdev : status.st_dev;
    }
    const auto name = sysfs_.nameOf(area, major(number), minor(number));
    if (const auto disk = name ? sysfs_.inspect(*name) : std::nullopt) {
      disks.insert(disk->disk);
    }
  }
  if (disks != systemDisks_) {
    // Whether a disk counts as internal changed: every stamp with it.
    ++systemDisksGeneration_;
    systemDisks_ = std::move(disks);
  }
}

std::optional<std::vector<MountedPath>> LibmountVolumeSource::mountTable() {
  std::lock_guard lock(mutex_);
  auto table = readTable();
  if (!table) {
    current_.clear();
  }
  return table;
}

LibmountVolumeSource::Mount* LibmountVolumeSource::findMount(const std::string& mountPath) {
  if (Mount* mount = currentMount(mountPath)) {
    return mount;
  }
  // Not seen in the last reading (or none yet): the table may have changed since.
  return readTable() ? currentMount(mountPath) : nullptr;
}

const SysfsDiskInfo* LibmountVolumeSource::diskFor(Mount& mount) {
  if (!mount.diskLoaded) {
    mount.diskLoaded = true;
    if (mount.deviceName) {
      mount.disk = sysfs_.inspect(*mount.deviceName);
    } else if (mount.imageFile) {
      SysfsDiskInfo image;
      image.disk = mount.source;
      image.isLoop = true;
      mount.disk = image;
    }
  }
  return mount.disk ? &*mount.disk : nullptr;
}

const LibmountVolumeSource::UdevFacts& LibmountVolumeSource::udevFor(Mount& mount) {
  UdevFacts& facts = mount.udev;
  if (facts.loaded) {
    return facts;
  }
  facts.loaded = true;
  const auto entry = options_.useUdev && mount.deviceName
                         ? udevDatabaseEntry(*mount.deviceName, mount.number)
                         : std::nullopt;
  // Without an entry udevd has told nothing beyond what sysfs says.
  if (!entry || !entry->exists) {
    return facts;
  }
  const struct stat& file = entry->status;
  const UdevDatabaseStamp stamp{static_cast<unsigned long long>(file.st_ino),
                                static_cast<long long>(file.st_mtim.tv_sec) * 1000000000LL +
                                    file.st_mtim.tv_nsec,
                                static_cast<long long>(file.st_size)};
  mount.udevStamp = stamp;
  CachedUdevFacts& cached = udevCache_[*mount.deviceName];
  if (!cached.facts.loaded || cached.stamp != stamp) {
    cached.facts = readUdevEntry(entry->path, *mount.deviceName);
    cached.stamp = stamp;
  }
  cached.reading = reading_;
  facts = cached.facts;
  return facts;
}

// Read straight from udevd's database ("E:KEY=value" properties, "S:link" device links), which
// is what libudev would read, without its walk through sysfs for every device.
LibmountVolumeSource::UdevFacts
LibmountVolumeSource::readUdevEntry(const std::string& path, const std::string& deviceName) const {
  UdevFacts facts;
  facts.loaded = true;
  std::map<std::string, std::string, std::less<>> properties;
  std::vector<std::string> links;
  std::istringstream in(smallFile(path));
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with("E:")) {
      if (const auto equals = line.find('=', 2); equals != std::string::npos) {
        properties.emplace(line.substr(2, equals - 2), line.substr(equals + 1));
      }
    } else if (line.starts_with("S:")) {
      links.push_back(line.substr(2));
    }
  }
  // Nothing from an entry about another medium: the label is probed from the device itself.
  if (describesAnEarlierMedium(sysfs_.root(), deviceName, links)) {
    return facts;
  }
  auto property = [&](std::string_view name) -> std::optional<std::string> {
    const auto found = properties.find(name);
    return found == properties.end() || found->second.empty()
               ? std::nullopt
               : std::optional<std::string>(found->second);
  };
  facts.probed = property("ID_FS_TYPE").has_value();
  if (const auto encoded = property("ID_FS_LABEL_ENC")) {
    facts.label = decodeUdevText(*encoded);
  } else {
    facts.label = property("ID_FS_LABEL");
  }
  facts.isCdrom = property("ID_CDROM") == "1";
  facts.ignore = property("UDISKS_IGNORE") == "1";
  if (const auto system = property("UDISKS_SYSTEM")) {
    facts.system = *system == "1";
  }
  facts.bus = property("ID_BUS");
  return facts;
}

std::optional<std::string> LibmountVolumeSource::probeLabel(const Mount& mount) const {
  if (!options_.probeLabels || (!mount.deviceName && !mount.imageFile)) {
    return std::nullopt;
  }
  const std::string node = mount.imageFile ? mount.source : "/dev/" + *mount.deviceName;
  std::unique_ptr<blkid_struct_probe, ProbeDeleter> probe(
      blkid_new_probe_from_filename(node.c_str()));
  if (!probe) {
    return std::nullopt;
  }
  blkid_probe_enable_superblocks(probe.get(), 1);
  blkid_probe_set_superblocks_flags(probe.get(), BLKID_SUBLKS_LABEL);
  // The kernel has told which file system it mounted: trying every other costs a read each.
  if (!mount.fsType.empty() && !isFuse(mount.fsType)) {
    char* only[] = {const_cast<char*>(mount.fsType.c_str()), nullptr};
    blkid_probe_filter_superblocks_type(probe.get(), BLKID_FLTR_ONLYIN, only);
  }
  if (blkid_do_safeprobe(probe.get()) != 0) {
    return std::nullopt;
  }
  const char* label = nullptr;
  if (blkid_probe_lookup_value(probe.get(), "LABEL", &label, nullptr) != 0) {
    return std::nullopt;
  }
  return nonEmpty(label);
}

std::optional<VolumeResources> LibmountVolumeSource::resourceValues(const std::string& mountPath) {
  std::lock_guard lock(mutex_);
  Mount* mount = findMount(mountPath);
  if (mount == nullptr) {
    return std::nullopt;
  }
  VolumeResources values;
  const UdevFacts& udev = udevFor(*mount);
  values.volumeName = udev.probed ? udev.label : probeLabel(*mount);
  if (mount->deviceName) {
    values.device = "/dev/" + *mount->deviceName;
  }
  if (const SysfsDiskInfo* disk = diskFor(*mount)) {
    const bool hotPluggable = disk->isHotPluggable() || udev.bus == "usb" || udev.bus == "ieee1394";
    const bool removable = disk->isRemovable.value_or(false);
    const bool optical = disk->isOptical || udev.isCdrom;
    values.isRemovable = removable;
    values.isInternal = !removable && !hotPluggable && !disk->isLoop && !optical;
    // External disks on a hot-pluggable bus often claim not to be removable, yet the user
    // ejects them all the same.
    values.isEjectable = optical || removable || disk->isLoop || hotPluggable;
    if (udev.system) {
      values.isInternal = *udev.system;
      values.isEjectable = !*udev.system;
    }
    // Whatever the disk looks like, the system runs from it.
    if (systemDisks_.contains(disk->disk)) {
      values.isInternal = true;
      values.isRemovable = false;
      values.isEjectable = false;
    }
  }
  return values;
}

std::optional<std::int64_t> LibmountVolumeSource::totalCapacity(const std::string& mountPath) {
  struct statvfs stats {};
  if (statvfs(mountPath.c_str(), &stats) != 0) {
    return std::nullopt;
  }
  return static_cast<std::int64_t>(stats.f_blocks) * static_cast<std::int64_t>(stats.f_frsize);
}

std::optional<SysfsDiskInfo> LibmountVolumeSource::diskOf(const std::string& mountPath) {
  std::lock_guard lock(mutex_);
  Mount* mount = findMount(mountPath);
  if (mount == nullptr) {
    return std::nullopt;
  }
  const SysfsDiskInfo* disk = diskFor(*mount);
  return disk ? std::optional<SysfsDiskInfo>(*disk) : std::nullopt;
}
