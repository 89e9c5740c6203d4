#include "platform/linux/mount_lines.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstddef>
#include <memory>
#include <string_view>
#include <utility>

namespace {

// The kernel writes a space, tab, newline or backslash in a name as \ooo; other bytes as they are.
void unescapeInto(std::string& plain, std::string_view field) {
  if (field.find('\\') == std::string_view::npos) {
    plain.assign(field);
    return;
  }
  plain.clear();
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
}

// Reads one line into the entry; false for a damaged line.
bool parseLine(std::string_view line, MountLine& entry) {
  std::string_view fields[6]; // id, parent, device numbers, root, target, options
  std::size_t count = 0;
  std::size_t at = 0;
  for (; count < 6 && at <= line.size(); ++count) {
    const auto next = std::min(line.find(' ', at), line.size());
    fields[count] = line.substr(at, next - at);
    at = next + 1;
  }
  // Optional fields up to " - ", then type, source and the super block's options.
  const auto separator = line.find(" - ", std::min(at - 1, line.size()));
  if (count < 6 || at > line.size() || separator == std::string_view::npos) {
    return false;
  }
  std::string_view rest = line.substr(separator + 3);
  std::string_view tail[3];
  for (std::size_t i = 0; i < 3 && !rest.empty(); ++i) {
    const auto next = std::min(rest.find(' '), rest.size());
    tail[i] = rest.substr(0, next);
    rest.remove_prefix(std::min(next + 1, rest.size()));
  }
  unsigned majorNumber = 0;
  unsigned minorNumber = 0;
  const std::string_view numbers = fields[2];
  const char* const last = numbers.data() + numbers.size();
  const auto majorEnd = std::from_chars(numbers.data(), last, majorNumber);
  if (majorEnd.ec != std::errc() || majorEnd.ptr == last || *majorEnd.ptr != ':' ||
      std::from_chars(majorEnd.ptr + 1, last, minorNumber).ec != std::errc() ||
      std::from_chars(fields[0].data(), fields[0].data() + fields[0].size(), entry.id).ec !=
          std::errc() ||
      tail[1].data() == nullptr) {
    return false;
  }
  entry.number = makedev(majorNumber, minorNumber);
  unescapeInto(entry.root, fields[3]);
  unescapeInto(entry.target, fields[4]);
  entry.mountOptions.assign(fields[5]);
  unescapeInto(entry.fsType, tail[0]);
  unescapeInto(entry.source, tail[1]);
  entry.superOptions.assign(tail[2]);
  return true;
}

// listmount(2) and statmount(2) as Linux 6.8 and later define them; the C library's headers on
// older systems know neither.
#if defined(SYS_listmount) && defined(SYS_statmount)
constexpr long listMountCall = SYS_listmount;
constexpr long statMountCall = SYS_statmount;
#elif defined(__x86_64__)
constexpr long listMountCall = 458;
constexpr long statMountCall = 457;
#else
constexpr long listMountCall = -1; // the numbers differ: mountinfo it is
constexpr long statMountCall = -1;
#endif

struct MountIdRequest {
  std::uint32_t size = sizeof(MountIdRequest);
  std::uint32_t spare = 0;
  std::uint64_t mountId = 0;
  std::uint64_t parameter = 0;
};
static_assert(sizeof(MountIdRequest) == 24);

struct StatMount {
  std::uint32_t size;
  std::uint32_t mountOptions; // string offsets, from strings
  std::uint64_t mask;
  std::uint32_t deviceMajor;
  std::uint32_t deviceMinor;
  std::uint64_t magic;
  std::uint32_t flags;
  std::uint32_t fsType;
  std::uint64_t mountId;
  std::uint64_t parentId;
  std::uint32_t oldMountId;
  std::uint32_t oldParentId;
  std::uint64_t attributes;
  std::uint64_t propagation;
  std::uint64_t peerGroup;
  std::uint64_t master;
  std::uint64_t propagateFrom;
  std::uint32_t root;
  std::uint32_t mountPoint;
  std::uint64_t namespaceId;
  std::uint32_t fsSubtype;
  std::uint32_t source;
  std::uint32_t optionCount;
  std::uint32_t optionArray;
  std::uint32_t securityOptionCount;
  std::uint32_t securityOptionArray;
  std::uint64_t supportedMask;
  std::uint64_t spare[45];
  // The strings follow.
};
static_assert(sizeof(StatMount) == 512 && offsetof(StatMount, supportedMask) == 144);

constexpr std::uint64_t rootMount = ~std::uint64_t{0};
constexpr std::uint64_t superBlockBasics = 0x1;
constexpr std::uint64_t mountBasics = 0x2;
constexpr std::uint64_t mountRoot = 0x8;
constexpr std::uint64_t mountPoint = 0x10;
constexpr std::uint64_t fsTypeName = 0x20;
constexpr std::uint64_t mountOptionsText = 0x80;
constexpr std::uint64_t fsSubtypeName = 0x100;
constexpr std::uint64_t superBlockSource = 0x200;
constexpr std::uint64_t supportedMaskField = 0x1000;
constexpr std::uint64_t wanted = superBlockBasics | mountBasics | mountRoot | mountPoint |
                                 fsTypeName | mountOptionsText | fsSubtypeName | superBlockSource;

} // namespace

const std::vector<const MountLine*>* MountInfoFile::read() {
  const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return nullptr;
  }
  std::size_t length = 0;
  for (ssize_t got = 1; got > 0;) {
    if (text_.size() - length < 16384) {
      text_.resize(length + 65536);
    }
    got = ::read(fd, text_.data() + length, text_.size() - length);
    length += got > 0 ? static_cast<std::size_t>(got) : 0;
  }
  ::close(fd);
  std::size_t count = 0;
  // A damaged line is skipped rather than failing the whole table.
  for (std::string_view rest(text_.data(), length); !rest.empty();) {
    const auto end = std::min(rest.find('\n'), rest.size());
    if (count == lines_.size()) {
      lines_.emplace_back();
    }
    count += parseLine(rest.substr(0, end), lines_[count]) ? 1 : 0;
    rest.remove_prefix(std::min(end + 1, rest.size()));
  }
  ordered_.clear();
  for (std::size_t i = 0; i < count; ++i) {
    ordered_.push_back(&lines_[i]);
  }
  return &ordered_;
}

MountListing::MountListing() : answer_(2048) {
  if (listMountCall < 0) {
    return;
  }
  // Asked once of the root: a kernel that cannot tell which fields it fills in, or lacks one,
  // leaves the table to mountinfo.
  MountIdRequest request;
  request.mountId = rootMount;
  std::uint64_t first = 0;
  if (::syscall(listMountCall, &request, &first, 1, 0) != 1) {
    return;
  }
  request.mountId = first;
  request.parameter = wanted | supportedMaskField;
  const auto* answer = reinterpret_cast<const StatMount*>(answer_.data());
  changes_ = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
  available_ = changes_ >= 0 &&
               ::syscall(statMountCall, &request, answer_.data(),
                         answer_.size() * sizeof(std::uint64_t), 0) == 0 &&
               (answer->mask & supportedMaskField) != 0 &&
               (answer->supportedMask & wanted) == wanted;
}

MountListing::~MountListing() {
  if (changes_ >= 0) {
    ::close(changes_);
  }
}

bool MountListing::describe(std::uint64_t id, MountLine& line) {
  MountIdRequest request;
  request.mountId = id;
  request.parameter = wanted;
  while (::syscall(statMountCall, &request, answer_.data(), answer_.size() * sizeof(std::uint64_t),
                   0) != 0) {
    if (errno != EOVERFLOW) {
      return false; // gone since it was listed
    }
    answer_.resize(answer_.size() * 2);
  }
  const auto* answer = reinterpret_cast<const StatMount*>(answer_.data());
  const char* strings = reinterpret_cast<const char*>(answer_.data()) + sizeof(StatMount);
  // A field the kernel had nothing for is left out of the mask: an empty string.
  const auto text = [&](std::uint64_t field, std::uint32_t offset) {
    return (answer->mask & field) != 0 ? std::string(strings + offset) : std::string();
  };
  line.id = id;
  line.number = makedev(answer->deviceMajor, answer->deviceMinor);
  // Unescaped already; the options stay escaped, as mountinfo has them.
  line.root = text(mountRoot, answer->root);
  line.target = text(mountPoint, answer->mountPoint);
  line.fsType = text(fsTypeName, answer->fsType);
  if (const auto subtype = text(fsSubtypeName, answer->fsSubtype); !subtype.empty()) {
    line.fsType += '.' + subtype;
  }
  line.source = text(superBlockSource, answer->source);
  // The mount's own flags (rw, nosuid…) never hold a user-space option such as x-gvfs-hide.
  line.superOptions = text(mountOptionsText, answer->mountOptions);
  return true;
}

const std::vector<const MountLine*>* MountListing::read() {
  if (!available_) {
    return nullptr;
  }
  // Asked before listing: a change after it is seen by the next reading.
  pollfd flagged{changes_, POLLPRI, 0};
  const bool changed = ::poll(&flagged, 1, 0) > 0 && (flagged.revents & (POLLPRI | POLLERR)) != 0;
  askedAgain_ = false;
  MountIdRequest request;
  request.mountId = rootMount;
  ids_.resize(std::max<std::size_t>(ids_.size(), 256));
  std::size_t count = 0;
  for (;;) {
    const long got =
        ::syscall(listMountCall, &request, ids_.data() + count, ids_.size() - count, 0);
    if (got < 0) {
      return nullptr;
    }
    count += static_cast<std::size_t>(got);
    if (count < ids_.size()) {
      break;
    }
    request.parameter = ids_[count - 1]; // more after the last one given
    ids_.resize(ids_.size() * 2);
  }
  // Most readings find the same mounts as the one before.
  const auto end = ids_.begin() + static_cast<std::ptrdiff_t>(count);
  if (!std::is_sorted(ids_.begin(), end)) {
    std::sort(ids_.begin(), end);
  }
  if (count == lines_.size() &&
      std::equal(lines_.begin(), lines_.end(), ids_.begin(),
                 [](const auto& known, std::uint64_t id) { return known.first == id; })) {
    // The same mounts, yet the table changed: one of them moved or got new options.
    for (auto& [id, line] : lines_) {
      askedAgain_ = changed && (describe(id, *line) || askedAgain_);
    }
    return &ordered_;
  }
  // Both ascend: one walk keeps the mounts still there, drops the gone ones and asks about the new.
  kept_.clear();
  auto known = lines_.begin();
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint64_t id = ids_[i];
    while (known != lines_.end() && known->first < id) {
      ++known;
    }
    if (known != lines_.end() && known->first == id) {
      kept_.push_back(std::move(*known++));
    } else if (auto line = std::make_unique<MountLine>(); describe(id, *line)) {
      kept_.emplace_back(id, std::move(line));
    }
  }
  lines_.swap(kept_);
  ordered_.clear();
  for (const auto& [id, line] : lines_) {
    ordered_.push_back(line.get());
  }
  return &ordered_;
}
