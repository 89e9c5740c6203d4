#include "core/settings_store.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <string_view>
#include <system_error>
#include <utility>

#include <fmt/format.h>
#include <plist/plist.h>

namespace {

// Property-list dates count seconds from 2001-01-01T00:00:00Z.
constexpr std::int64_t referenceDateUnixSeconds = 978307200;

// A file descriptor closed when it goes out of scope.
class Descriptor {
 public:
  explicit Descriptor(int descriptor = -1) : descriptor_(descriptor) {}
  ~Descriptor() { reset(); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;

  int get() const { return descriptor_; }
  int release() { return std::exchange(descriptor_, -1); }
  void reset(int descriptor = -1) {
    if (descriptor_ >= 0) {
      ::close(descriptor_);
    }
    descriptor_ = descriptor;
  }

 private:
  int descriptor_;
};

std::int64_t nanoseconds(const timespec& time) {
  return static_cast<std::int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

bool readAll(int descriptor, std::string& contents) {
  char buffer[16384];
  for (;;) {
    const ssize_t count = ::read(descriptor, buffer, sizeof buffer);
    if (count == 0) {
      return true;
    }
    if (count < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    contents.append(buffer, static_cast<std::size_t>(count));
  }
}

bool writeAll(int descriptor, const char* data, std::size_t length) {
  while (length > 0) {
    const ssize_t count = ::write(descriptor, data, length);
    if (count < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    data += count;
    length -= static_cast<std::size_t>(count);
  }
  return true;
}

bool syncFolder(const std::filesystem::path& folder) {
  Descriptor descriptor(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return descriptor.get() >= 0 && ::fsync(descriptor.get()) == 0;
}

// A dictionary key's text. The library's key getters assert (and abort) on a key that holds a
// NUL byte, which a damaged file can; a key node written out alone and read back is a plain
// string node, whose text can be had by pointer and length.
std::optional<std::string> keyText(plist_t keyNode) {
  if (keyNode == nullptr) {
    return std::nullopt;
  }
  char* bytes = nullptr;
  std::uint32_t length = 0;
  plist_to_bin(keyNode, &bytes, &length);
  plist_t copy = nullptr;
  if (bytes != nullptr) {
    plist_from_bin(bytes, length, &copy);
  }
  std::free(bytes);
  std::optional<std::string> text;
  std::uint64_t textLength = 0;
  if (copy != nullptr && plist_get_node_type(copy) == PLIST_STRING) {
    if (const char* pointer = plist_get_string_ptr(copy, &textLength)) {
      text = std::string(pointer, static_cast<std::size_t>(textLength));
    }
  }
  plist_free(copy);
  return text;
}

std::optional<SettingsValue> valueFromNode(plist_t node);

std::optional<SettingsValue> valueFromNode(plist_t node) {
  switch (plist_get_node_type(node)) {
  case PLIST_BOOLEAN: {
    std::uint8_t value = 0;
    plist_get_bool_val(node, &value);
    return SettingsValue(value != 0);
  }
  case PLIST_UINT: {
    // The library keeps every integer in 64 bits; negative ones come back two's complement.
    std::uint64_t value = 0;
    plist_get_uint_val(node, &value);
    return SettingsValue(static_cast<std::int64_t>(value));
  }
  case PLIST_REAL: {
    double value = 0;
    plist_get_real_val(node, &value);
    return SettingsValue(value);
  }
  case PLIST_STRING: {
    // By pointer and length: the copying getter asserts (and aborts) on a text that holds a
    // NUL byte, which a damaged or hand-edited file can.
    std::uint64_t length = 0;
    const char* value = plist_get_string_ptr(node, &length);
    return SettingsValue(value != nullptr ? std::string(value, static_cast<std::size_t>(length))
                                          : std::string());
  }
  case PLIST_DATE: {
    std::int32_t seconds = 0;
    std::int32_t microseconds = 0;
    plist_get_date_val(node, &seconds, &microseconds);
    const auto since = std::chrono::seconds(referenceDateUnixSeconds + seconds) +
                       std::chrono::microseconds(microseconds);
    return SettingsValue(
        SettingsValue::Date(std::chrono::duration_cast<SettingsValue::Date::duration>(since)));
  }
  case PLIST_ARRAY: {
    SettingsValue::Array array;
    const std::uint32_t size = plist_array_get_size(node);
    for (std::uint32_t index = 0; index < size; ++index) {
      // Elements of kinds this program never stores (data, UIDs) are left out of the reading.
      if (auto element = valueFromNode(plist_array_get_item(node, index))) {
        array.push_back(std::move(*element));
      }
    }
    return SettingsValue(std::move(array));
  }
  case PLIST_DICT: {
    SettingsValue::Dictionary dictionary;
    plist_dict_iter iterator = nullptr;
    plist_dict_new_iter(node, &iterator);
    for (;;) {
      plist_t item = nullptr;
      plist_dict_next_item(node, iterator, nullptr, &item);
      if (item == nullptr) {
        break;
      }
      const std::optional<std::string> key = keyText(plist_dict_item_get_key(item));
      if (auto value = valueFromNode(item); value && key) {
        dictionary.emplace(*key, std::move(*value));
      }
    }
    std::free(iterator);
    return SettingsValue(std::move(dictionary));
  }
  default:
    return std::nullopt;
  }
}

// The stored date, to the whole second and within the range the file format can hold.
std::int32_t referenceSeconds(SettingsValue::Date date) {
  const std::int64_t unixSeconds =
      std::chrono::floor<std::chrono::seconds>(date.time_since_epoch()).count();
  const std::int64_t seconds = std::clamp<std::int64_t>(unixSeconds - referenceDateUnixSeconds,
                                                        std::numeric_limits<std::int32_t>::min(),
                                                        std::numeric_limits<std::int32_t>::max());
  return static_cast<std::int32_t>(seconds);
}

SettingsValue normalised(SettingsValue value) {
  if (const auto* date = value.as<SettingsValue::Date>()) {
    const auto seconds = std::chrono::seconds(referenceDateUnixSeconds + referenceSeconds(*date));
    return SettingsValue(
        SettingsValue::Date(std::chrono::duration_cast<SettingsValue::Date::duration>(seconds)));
  }
  if (const auto* array = value.as<SettingsValue::Array>()) {
    SettingsValue::Array result;
    result.reserve(array->size());
    for (const auto& element : *array) {
      result.push_back(normalised(element));
    }
    return SettingsValue(std::move(result));
  }
  if (const auto* dictionary = value.as<SettingsValue::Dictionary>()) {
    SettingsValue::Dictionary result;
    for (const auto& [key, element] : *dictionary) {
      result.emplace(key, normalised(element));
    }
    return SettingsValue(std::move(result));
  }
  return value;
}

plist_t nodeFromValue(const SettingsValue& value) {
  return std::visit(
      [](const auto& content) -> plist_t {
        using T = std::decay_t<decltype(content)>;
        if constexpr (std::is_same_v<T, bool>) {
          return plist_new_bool(content ? 1 : 0);
        } else if constexpr (std::is_same_v<T, std::int64_t>) {
          return plist_new_uint(static_cast<std::uint64_t>(content));
        } else if constexpr (std::is_same_v<T, double>) {
          return plist_new_real(content);
        } else if constexpr (std::is_same_v<T, std::string>) {
          return plist_new_string(content.c_str());
        } else if constexpr (std::is_same_v<T, SettingsValue::Date>) {
          return plist_new_date(referenceSeconds(content), 0);
        } else if constexpr (std::is_same_v<T, SettingsValue::Array>) {
          plist_t array = plist_new_array();
          for (const auto& element : content) {
            plist_array_append_item(array, nodeFromValue(element));
          }
          return array;
        } else {
          plist_t dictionary = plist_new_dict();
          for (const auto& [key, element] : content) {
            plist_dict_set_item(dictionary, key.c_str(), nodeFromValue(element));
          }
          return dictionary;
        }
      },
      value.storage());
}

// Leading and trailing spaces and tabs, for the Boolean reading of texts.
std::string_view trimmedAscii(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
    text.remove_prefix(1);
  }
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
    text.remove_suffix(1);
  }
  return text;
}

bool equalsIgnoringCase(std::string_view left, std::string_view right) {
  return left.size() == right.size() &&
         std::equal(left.begin(), left.end(), right.begin(), [](char a, char b) {
           return std::tolower(static_cast<unsigned char>(a)) ==
                  std::tolower(static_cast<unsigned char>(b));
         });
}

// "YES", "true" (any case), or an integer other than zero; digits are checked rather than
// converted so that a long number does not overflow.
bool textReadsTrue(std::string_view text) {
  text = trimmedAscii(text);
  if (equalsIgnoringCase(text, "yes") || equalsIgnoringCase(text, "true")) {
    return true;
  }
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    text.remove_prefix(1);
  }
  if (text.empty()) {
    return false;
  }
  bool nonZero = false;
  for (const char character : text) {
    if (character < '0' || character > '9') {
      return false;
    }
    nonZero = nonZero || character != '0';
  }
  return nonZero;
}

std::string timestampForName() {
  const std::time_t now = std::time(nullptr);
  std::tm parts{};
  gmtime_r(&now, &parts);
  char buffer[32];
  std::strftime(buffer, sizeof buffer, "%Y%m%dT%H%M%SZ", &parts);
  return buffer;
}

} // namespace

// The loaded property list, always a dictionary.
struct SettingsStore::Document {
  Document() : root(plist_new_dict()) {}
  ~Document() { plist_free(root); }
  Document(const Document&) = delete;
  Document& operator=(const Document&) = delete;

  void replace(plist_t newRoot) {
    plist_free(root);
    root = newRoot;
  }

  plist_t root;
};

std::filesystem::path SettingsStore::defaultFile() {
  std::filesystem::path folder;
  if (const char* configHome = std::getenv("XDG_CONFIG_HOME");
      configHome != nullptr && *configHome != '\0') {
    folder = configHome;
  } else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
    folder = std::filesystem::path(home) / ".config";
  } else if (const passwd* entry = ::getpwuid(::getuid());
             entry != nullptr && entry->pw_dir != nullptr) {
    folder = std::filesystem::path(entry->pw_dir) / ".config";
  } else {
    folder = std::filesystem::temp_directory_path();
  }
  return folder / "VarneloEject" / "defaults.plist";
}

SettingsStore::SettingsStore(std::filesystem::path file)
    : file_(std::move(file)), document_(std::make_unique<Document>()) {}

SettingsStore::~SettingsStore() {
  if (loadedDescriptor_ >= 0) {
    ::close(loadedDescriptor_);
  }
}

std::optional<SettingsValue> SettingsStore::object(const std::string& key) const {
  std::lock_guard lock(mutex_);
  reloadIfChangedLocked();
  plist_t node = plist_dict_get_item(document_->root, key.c_str());
  if (node == nullptr) {
    return std::nullopt;
  }
  return valueFromNode(node);
}

std::optional<std::string> SettingsStore::string(const std::string& key) const {
  auto value = object(key);
  if (!value || !value->is<std::string>()) {
    return std::nullopt;
  }
  return *value->as<std::string>();
}

bool SettingsStore::boolean(const std::string& key) const {
  const auto value = object(key);
  if (!value) {
    return false;
  }
  if (const auto* flag = value->as<bool>()) {
    return *flag;
  }
  if (const auto* integer = value->as<std::int64_t>()) {
    return *integer != 0;
  }
  if (const auto* real = value->as<double>()) {
    return *real != 0.0;
  }
  if (const auto* text = value->as<std::string>()) {
    return textReadsTrue(*text);
  }
  return false;
}

bool SettingsStore::set(const std::string& key, SettingsValue value) {
  plist_t node = nodeFromValue(normalised(std::move(value)));
  return modify([&](plist_t root) { plist_dict_set_item(root, key.c_str(), node); });
}

bool SettingsStore::remove(const std::string& key) {
  return modify([&](plist_t root) {
    if (plist_dict_get_item(root, key.c_str()) != nullptr) {
      plist_dict_remove_item(root, key.c_str());
    }
  });
}

template <typename Change> bool SettingsStore::modify(Change change) {
  std::lock_guard lock(mutex_);
  std::error_code ignored;
  std::filesystem::create_directories(file_.parent_path(), ignored);
  // Writers in other processes (and other store objects on this file) take the same lock,
  // so the reload below sees every change made before ours.
  const std::string lockPath = file_.string() + ".lock";
  Descriptor lockFile(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  if (lockFile.get() >= 0) {
    while (::flock(lockFile.get(), LOCK_EX) != 0 && errno == EINTR) {
    }
  }
  reloadIfChangedLocked();
  change(document_->root);
  // Without the lock file the folder is not writable, and neither will the settings be;
  // the change stays in memory.
  return lockFile.get() >= 0 && writeLocked();
}

void SettingsStore::reloadIfChangedLocked() const {
  struct stat status {};
  FileStamp current;
  if (::stat(file_.c_str(), &status) == 0) {
    current = {true,
               static_cast<std::uint64_t>(status.st_dev),
               static_cast<std::uint64_t>(status.st_ino),
               static_cast<std::int64_t>(status.st_size),
               nanoseconds(status.st_mtim),
               nanoseconds(status.st_ctim)};
  }
  if (loadedStamp_ && *loadedStamp_ == current) {
    return;
  }
  if (loadedDescriptor_ >= 0) {
    ::close(loadedDescriptor_);
    loadedDescriptor_ = -1;
  }
  corrupt_ = false;
  if (!current.exists) {
    document_->replace(plist_new_dict());
    loadedStamp_ = current;
    return;
  }

  Descriptor descriptor(::open(file_.c_str(), O_RDONLY | O_CLOEXEC));
  std::string contents;
  // A file far larger than any settings this program writes is damaged: never read it whole.
  if (descriptor.get() < 0 || ::fstat(descriptor.get(), &status) != 0 ||
      static_cast<std::uint64_t>(status.st_size) > maxFileBytes ||
      !readAll(descriptor.get(), contents)) {
    // Unreadable (no permission, a folder in its place): reads as empty, and is kept aside
    // rather than overwritten by the next write.
    document_->replace(plist_new_dict());
    loadedStamp_ = current;
    corrupt_ = true;
    return;
  }
  // The stamp of what was actually read, in case the file was replaced after the stat above.
  current = {true,
             static_cast<std::uint64_t>(status.st_dev),
             static_cast<std::uint64_t>(status.st_ino),
             static_cast<std::int64_t>(status.st_size),
             nanoseconds(status.st_mtim),
             nanoseconds(status.st_ctim)};

  plist_t parsed = nullptr;
  if (!contents.empty() && contents.size() <= std::numeric_limits<std::uint32_t>::max()) {
    plist_from_memory(contents.data(), static_cast<std::uint32_t>(contents.size()), &parsed);
  }
  if (parsed != nullptr && plist_get_node_type(parsed) == PLIST_DICT) {
    document_->replace(parsed);
  } else {
    if (parsed != nullptr) {
      plist_free(parsed);
    }
    document_->replace(plist_new_dict());
    // An empty file holds nothing worth keeping; anything else is kept aside before we
    // replace it.
    corrupt_ = !contents.empty();
  }
  loadedStamp_ = current;
  loadedDescriptor_ = descriptor.release();
}

bool SettingsStore::keepCorruptFileAsideLocked() {
  const std::string base = file_.string() + ".corrupt-" + timestampForName();
  std::string target = base;
  std::error_code error;
  for (int attempt = 1; std::filesystem::exists(target, error); ++attempt) {
    target = fmt::format("{}-{}", base, attempt);
  }
  if (::rename(file_.c_str(), target.c_str()) != 0) {
    return false;
  }
  corrupt_ = false;
  return true;
}

bool SettingsStore::writeLocked() {
  if (corrupt_ && !keepCorruptFileAsideLocked()) {
    return false;
  }
  char* xml = nullptr;
  std::uint32_t length = 0;
  plist_to_xml(document_->root, &xml, &length);
  if (xml == nullptr) {
    return false;
  }
  std::string temporaryPath = file_.string() + ".tmp-XXXXXX";
  Descriptor temporary(::mkostemp(temporaryPath.data(), O_CLOEXEC));
  if (temporary.get() < 0) {
    plist_to_xml_free(xml);
    return false;
  }
  const bool written = writeAll(temporary.get(), xml, length) && ::fsync(temporary.get()) == 0;
  plist_to_xml_free(xml);
  if (!written || ::rename(temporaryPath.c_str(), file_.c_str()) != 0) {
    ::unlink(temporaryPath.c_str());
    return false;
  }
  // The rename itself must reach the disk too, or a power cut could bring back the old file.
  syncFolder(file_.parent_path());

  struct stat status {};
  if (::fstat(temporary.get(), &status) == 0) {
    if (loadedDescriptor_ >= 0) {
      ::close(loadedDescriptor_);
    }
    loadedStamp_ = FileStamp{true,
                             static_cast<std::uint64_t>(status.st_dev),
                             static_cast<std::uint64_t>(status.st_ino),
                             static_cast<std::int64_t>(status.st_size),
                             nanoseconds(status.st_mtim),
                             nanoseconds(status.st_ctim)};
    loadedDescriptor_ = temporary.release();
  } else {
    loadedStamp_.reset();
  }
  return true;
}
