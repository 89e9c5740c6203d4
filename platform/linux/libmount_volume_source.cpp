#include "platform/linux/libmount_volume_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <cctype>
#include <cstdlib>
#include <fstream>
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

// One line of mountinfo: "36 35 8:17 / /media/x rw,nosuid shared:1 - vfat /dev/sdb1 rw".
struct MountLine {
  int id = 0;
  dev_t number = 0;
  std::string root;
  std::string target;
  std::string mountOptions;
  std::string fsType;
  std::string source;
  std::string superOptions;
};

// The kernel writes a space, tab, newline or backslash in a name as \ooo; other bytes as they are.
std::string unescaped(std::string_view field) {
  std::string plain;
  plain.reserve(field.size());
  for (std::size_t i = 0; i < field.size(); ++i) {
    const auto octal = [&](std::size_t at) { return field[at] >= '0' && field[at] <= '7'; };
    if (field[i] == '\\' && i + 3 < field.size() && octal(i + 1) && octal(i + 2) && octal(i + 3)) {
      plain.push_back(static_cast<char>(((field[i + 1] - '0') << 6) | ((field[i + 2] - '0') << 3) |
                                        (field[i + 3] - '0')));
      i += 3;
    } else {
      plain.push_back(field[i]);
    }
  }
  return plain;
}

// Only the fields we use, read by hand: libmount's parse of every line cost as much as the
// kernel's writing of it. A damaged line is skipped rather than failing the whole table.
std::optional<std::vector<MountLine>> parseMountInfo(const fs::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return std::nullopt;
  }
  std::string text;
  std::size_t length = 0;
  for (ssize_t got = 1; got > 0;) {
    if (text.size() - length < 16384) {
      text.resize(length + 65536);
    }
    got = ::read(fd, text.data() + length, text.size() - length);
    length += got > 0 ? static_cast<std::size_t>(got) : 0;
  }
  ::close(fd);
  std::vector<MountLine> lines;
  std::string_view rest(text.data(), length);
  std::vector<std::string_view> fields;
  while (!rest.empty()) {
    const auto end = std::min(rest.find('\n'), rest.size());
    const std::string_view line = rest.substr(0, end);
    rest.remove_prefix(std::min(end + 1, rest.size()));
    fields.clear();
    for (std::size_t at = 0; at < line.size();) {
      const auto next = std::min(line.find(' ', at), line.size());
      fields.push_back(line.substr(at, next - at));
      at = next + 1;
    }
    const auto separator = std::find(fields.begin(), fields.end(), std::string_view("-"));
    if (separator - fields.begin() < 6 || fields.end() - separator < 3) {
      continue;
    }
    MountLine entry;
    unsigned majorNumber = 0;
    unsigned minorNumber = 0;
    const std::string_view numbers = fields[2];
    const char* const last = numbers.data() + numbers.size();
    const auto majorEnd = std::from_chars(numbers.data(), last, majorNumber);
    if (majorEnd.ec != std::errc() || majorEnd.ptr == last || *majorEnd.ptr != ':' ||
        std::from_chars(majorEnd.ptr + 1, last, minorNumber).ec != std::errc() ||
        std::from_chars(fields[0].data(), fields[0].data() + fields[0].size(), entry.id).ec !=
            std::errc()) {
      continue;
    }
    entry.number = makedev(majorNumber, minorNumber);
    entry.root = unescaped(fields[3]);
    entry.target = unescaped(fields[4]);
    entry.mountOptions = fields[5];
    entry.fsType = unescaped(separator[1]);
    entry.source = unescaped(separator[2]);
    if (fields.end() - separator > 3) {
      entry.superOptions = separator[3];
    }
    lines.push_back(std::move(entry));
  }
  return lines;
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

// The devices and files /proc/swaps names, first column, unescaped.
std::vector<std::string> readSwapAreas(const fs::path& swapsPath) {
  std::vector<std::string> areas;
  std::ifstream in(swapsPath);
  std::string line;
  std::getline(in, line); // the heading
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string area;
    if (fields >> area) {
      std::unique_ptr<char, decltype(&free)> plain(mnt_unmangle(area.c_str()), &free);
      areas.push_back(plain ? plain.get() : area);
    }
  }
  return areas;
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

// Which file is at the path, as of when; empty when none is.
std::string fileStamp(const fs::path& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0
             ? std::to_string(status.st_ino) + ':' + std::to_string(status.st_mtim.tv_sec) + '.' +
                   std::to_string(status.st_mtim.tv_nsec) + ':' + std::to_string(status.st_size)
             : std::string();
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
    : options_(std::move(options)), sysfs_(options_.sysfsRoot) {}

LibmountVolumeSource::~LibmountVolumeSource() = default;

std::optional<std::pair<LibmountVolumeSource::MountMap, std::vector<MountedPath>>>
LibmountVolumeSource::readTable() {
  const auto entries = parseMountInfo(options_.mountInfoPath);
  if (!entries) {
    return std::nullopt;
  }
  ++reading_;
  // Options such as x-gdu.hide never reach the kernel; mount(8) keeps them in utab, and the
  // desktop's own marks stay in fstab.
  // Both are parsed again only when they changed.
  if (const auto stamp = fileStamp(options_.utabPath); stamp.empty() || stamp != utabStamp_) {
    userOptions_ = readUserOptions(options_.utabPath);
    utabStamp_ = stamp;
  }
  if (const auto stamp = fileStamp(options_.fstabPath); stamp.empty() || stamp != fstabStamp_) {
    fstabOptions_ = readFstabOptions(options_.fstabPath);
    fstabStamp_ = stamp;
  }
  const auto& userOptions = userOptions_;
  const auto& fstabOptions = fstabOptions_;

  // A mount covered by a later mount on the same path cannot be seen.
  std::vector<bool> covered(entries->size(), false);
  {
    std::unordered_set<std::string_view> seen;
    seen.reserve(entries->size());
    for (std::size_t i = entries->size(); i-- > 0;) {
      covered[i] = !seen.insert((*entries)[i].target).second;
    }
  }

  MountMap mounts;
  std::vector<MountedPath> visible;
  for (std::size_t i = 0; i < entries->size(); ++i) {
    const MountLine& line = (*entries)[i];
    if (covered[i] || mnt_fstype_is_netfs(line.fsType.c_str()) || line.source.empty()) {
      continue;
    }
    Mount mount;
    mount.target = line.target;
    mount.source = line.source;
    mount.fsType = line.fsType;
    const char* source = mount.source.c_str();
    // libmount counts plain "fuse" as a pseudo file system, yet a FUSE driver that reads a disk
    // image names the image, or the loop device showing it.
    const bool fuse = isFuse(mount.fsType);
    mount.imageFile = fuse && mount.source.starts_with('/') && !mount.source.starts_with("/dev/") &&
                      isRegularFile(source);
    if ((!fuse && mnt_fstype_is_pseudofs(mount.fsType.c_str())) ||
        (!mount.imageFile && !mount.source.starts_with("/dev/"))) {
      continue;
    }
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

    bool hidden =
        hasHideOption(line.mountOptions.c_str()) || hasHideOption(line.superOptions.c_str());
    bool shown = false;
    for (const auto* table : {&userOptions, &fstabOptions}) {
      if (const auto found = table->find(mount.target); found != table->end()) {
        hidden = hidden || hasHideOption(found->second.c_str());
        shown = shown || hasOption(found->second.c_str(), "x-gvfs-show");
      }
    }
    hidden = hidden || (isSystemPath(mount.target) && !shown);
    // A bind mount of a folder inside a volume is not the volume (btrfs subvolumes are).
    const std::string& root = line.root;
    if (!root.empty() && root != "/" && mount.fsType != "btrfs") {
      hidden = true;
    }
    // Snaps and AppImages are programs running from an image, not volumes; other read-only
    // images (squashfs, erofs) are disk images like any other.
    if (isRunningSoftware(mount.target, mount.fsType, mount.source, mount.deviceName,
                          sysfs_.root())) {
      hidden = true;
    }
    if (!hidden && udevFor(mount).ignore) {
      hidden = true;
    }
    if (!hidden) {
      // The kernel gives every mount a new id: with the udev entry's, it tells whether anything
      // resourceValues() reads may have changed.
      const auto& udev = mount.udevStamp;
      visible.push_back({mount.target, std::to_string(line.id) + ':' + mount.source + ':' +
                                           (udev ? std::to_string(udev->inode) + ':' +
                                                       std::to_string(udev->modifiedNanoseconds) +
                                                       ':' + std::to_string(udev->size)
                                                 : std::string())});
    }
    auto key = mount.target;
    mounts.insert_or_assign(std::move(key), std::move(mount));
  }
  auto disks = systemDisks(mounts);
  if (disks != systemDisks_) {
    // Whether a disk counts as internal changed: every stamp with it.
    ++systemDisksGeneration_;
    systemDisks_ = std::move(disks);
  }
  for (auto& entry : visible) {
    *entry.stamp += ':' + std::to_string(systemDisksGeneration_);
  }
  // Kept a while after its device was last seen, so that mounting it again asks udev nothing.
  std::erase_if(udevCache_,
                [this](const auto& cached) { return reading_ - cached.second.reading > 64; });
  return std::make_pair(std::move(mounts), std::move(visible));
}

std::set<std::string> LibmountVolumeSource::systemDisks(MountMap& mounts) {
  static constexpr const char* systemMounts[] = {"/", "/boot", "/boot/efi", "/efi", "/home"};
  // They hardly ever change: worked out again only when their devices or the swap areas do.
  const auto swapAreas = readSwapAreas(options_.swapsPath);
  std::string key;
  for (const char* path : systemMounts) {
    if (auto found = mounts.find(path); found != mounts.end()) {
      key += found->second.source + '\n';
    }
  }
  for (const auto& area : swapAreas) {
    key += area + '\n';
  }
  if (key == systemDisksKey_) {
    return systemDisks_;
  }
  systemDisksKey_ = key;
  std::set<std::string> disks;
  for (const char* path : systemMounts) {
    if (auto found = mounts.find(path); found != mounts.end()) {
      if (const SysfsDiskInfo* disk = diskFor(found->second)) {
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
  return disks;
}

std::optional<std::vector<MountedPath>> LibmountVolumeSource::mountTable() {
  std::lock_guard lock(mutex_);
  auto table = readTable();
  if (!table) {
    mounts_.clear();
    return std::nullopt;
  }
  mounts_ = std::move(table->first);
  return std::move(table->second);
}

LibmountVolumeSource::Mount* LibmountVolumeSource::findMount(const std::string& mountPath) {
  if (auto found = mounts_.find(mountPath); found != mounts_.end()) {
    return &found->second;
  }
  // Not seen in the last reading (or none yet): the table may have changed since.
  auto table = readTable();
  if (!table) {
    return nullptr;
  }
  mounts_ = std::move(table->first);
  auto found = mounts_.find(mountPath);
  return found == mounts_.end() ? nullptr : &found->second;
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
