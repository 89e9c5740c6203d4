#include "core/backup_detector.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <string_view>
#include <system_error>
#include <type_traits>
#include <utility>

#include <plist/plist.h>

#include "core/utf8_text.h"

namespace {

constexpr const char* sandboxVariable = "APP_SANDBOX_CONTAINER_ID";
constexpr const char* backupDatabaseName = "Backups.backupdb";
constexpr std::string_view backupBundleSuffix = ".backupbundle";
constexpr std::string_view runningMarker = "Running = 1";

bool endsWith(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

constexpr std::size_t maximumNamesRead = 512;
constexpr int maximumFoldersLookedInto = 32;

// The first names in a folder; a listing that breaks off part-way has told us what it could.
// The folder is open only while it is read.
std::vector<std::string> folderNames(const std::filesystem::path& folder, std::error_code& error) {
  std::vector<std::string> names;
  DIR* directory = ::opendir(folder.c_str());
  if (directory == nullptr) {
    error = std::error_code(errno, std::generic_category());
    return names;
  }
  error.clear();
  while (const dirent* entry = names.size() < maximumNamesRead ? ::readdir(directory) : nullptr) {
    const std::string_view name = entry->d_name;
    if (name != "." && name != "..") {
      names.emplace_back(name);
    }
  }
  ::closedir(directory);
  return names;
}

bool headContains(const std::filesystem::path& file, std::string_view wanted) {
  std::ifstream in(file, std::ios::binary);
  std::string head(256, '\0');
  in.read(head.data(), static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<std::size_t>(in.gcount()));
  return head.find(wanted) != std::string::npos;
}

// The on-disk marks of the backup tools Linux users run, and which tool left them: duplicity
// (and Deja Dup over it) leaves manifest and signature files, Timeshift a snapshots folder, Borg
// and restic repositories their own layout. Empty when none.
std::string_view linuxBackupKind(const std::filesystem::path& folder,
                                 const std::vector<std::string>& names) {
  const std::set<std::string_view> present(names.begin(), names.end());
  for (const std::string_view name : present) {
    if ((name.starts_with("duplicity-full") && name.find(".manifest") != std::string_view::npos) ||
        (name.starts_with("duplicity-") && name.find(".sigtar") != std::string_view::npos)) {
      return "deja-dup";
    }
  }
  std::error_code error;
  if (present.contains("timeshift") &&
      std::filesystem::is_directory(folder / "timeshift" / "snapshots", error)) {
    return "timeshift";
  }
  if (!present.contains("config")) {
    return {};
  }
  if (present.contains("README") && headContains(folder / "config", "[repository]")) {
    return "borg";
  }
  const bool restic = present.contains("data") && present.contains("index") &&
                      present.contains("keys") && present.contains("snapshots");
  return restic ? "restic" : std::string_view();
}

struct PlistDeleter {
  void operator()(plist_t node) const { plist_free(node); }
};
using PlistHolder = std::unique_ptr<std::remove_pointer_t<plist_t>, PlistDeleter>;

std::optional<std::string> plistString(plist_t node) {
  if (node == nullptr || plist_get_node_type(node) != PLIST_STRING) {
    return std::nullopt;
  }
  uint64_t length = 0;
  const char* text = plist_get_string_ptr(node, &length);
  if (text == nullptr) {
    return std::nullopt;
  }
  return std::string(text, static_cast<std::size_t>(length));
}

// Programs of the backup tools Linux users run, as the process table names them.
constexpr std::array<std::string_view, 5> backupPrograms{"deja-dup", "duplicity", "timeshift",
                                                         "borg", "restic"};

bool isBackupProgram(std::string_view program) {
  return std::any_of(backupPrograms.begin(), backupPrograms.end(), [&](std::string_view tool) {
    return program == tool || (program.starts_with(tool) && program.substr(tool.size(), 1) == "-");
  });
}
} // namespace

BackupDetector::BackupDetector(ProcessRunner& processRunner, std::string timeMachineTool,
                               Environment environment, VolumeUsers* volumeUsers)
    : processRunner_(processRunner), timeMachineTool_(std::move(timeMachineTool)),
      environment_(std::move(environment)), volumeUsers_(volumeUsers) {
  if (!environment_) {
    environment_ = [](const std::string& name) -> std::optional<std::string> {
      const char* value = std::getenv(name.c_str());
      return value == nullptr ? std::nullopt : std::optional<std::string>(value);
    };
  }
}

std::optional<std::string> BackupDetector::backupKind(const std::string& mountPath,
                                                      const std::set<std::string>& known) {
  constexpr std::string_view timeMachine = "time-machine";
  if (known.contains(mountPath)) {
    return std::string(timeMachine);
  }
  const std::filesystem::path root(mountPath);
  std::error_code error;
  std::error_code ignored;
  const auto names = folderNames(root, error);
  // A root that cannot be listed may still let one look for the backup database by name.
  if (std::find(names.begin(), names.end(), backupDatabaseName) != names.end() ||
      (error && std::filesystem::exists(root / backupDatabaseName, ignored))) {
    return std::string(timeMachine);
  }
  if (error) {
    // A root this user may not read may well hold backups: protect it rather than guess.
    const bool gone =
        error == std::errc::no_such_file_or_directory || error == std::errc::not_a_directory;
    return gone ? std::optional<std::string>("") : std::nullopt;
  }
  if (std::any_of(names.begin(), names.end(),
                  [](const std::string& name) { return endsWith(name, backupBundleSuffix); })) {
    return std::string(timeMachine);
  }
  if (const auto kind = linuxBackupKind(root, names); !kind.empty()) {
    return std::string(kind);
  }
  // Backup tools are often pointed at a folder of their own on the disk.
  int looked = 0;
  for (const auto& name : names) {
    if (looked == maximumFoldersLookedInto) {
      break;
    }
    const auto folder = root / name;
    if (name.starts_with('.') || name == "lost+found" ||
        !std::filesystem::is_directory(folder, error)) {
      continue;
    }
    ++looked;
    const auto inner = folderNames(folder, error);
    if (const auto kind = error ? std::string_view() : linuxBackupKind(folder, inner);
        !kind.empty()) {
      return std::string(kind);
    }
  }
  return std::string();
}

std::set<std::string> BackupDetector::timeMachineMountPoints() {
  const auto output = tmutil({"destinationinfo", "-X"});
  if (!output || output->empty() || output->size() > std::numeric_limits<uint32_t>::max()) {
    return {};
  }
  plist_t parsed = nullptr;
  plist_from_memory(output->data(), static_cast<uint32_t>(output->size()), &parsed);
  const PlistHolder root(parsed);
  if (root == nullptr || plist_get_node_type(root.get()) != PLIST_DICT) {
    return {};
  }
  plist_t destinations = plist_dict_get_item(root.get(), "Destinations");
  if (destinations == nullptr || plist_get_node_type(destinations) != PLIST_ARRAY) {
    return {};
  }
  const uint32_t count = plist_array_get_size(destinations);
  std::vector<plist_t> entries;
  for (uint32_t index = 0; index < count; ++index) {
    plist_t entry = plist_array_get_item(destinations, index);
    if (entry == nullptr || plist_get_node_type(entry) != PLIST_DICT) {
      return {};
    }
    entries.push_back(entry);
  }
  std::set<std::string> mountPoints;
  for (plist_t entry : entries) {
    const auto mountPoint = plistString(plist_dict_get_item(entry, "MountPoint"));
    if (mountPoint && !mountPoint->empty()) {
      mountPoints.insert(*mountPoint);
    }
  }
  return mountPoints;
}

std::optional<std::string> BackupDetector::tmutil(const std::vector<std::string>& arguments) {
  // Inside a sandbox the tool cannot be started, and trying costs a child process.
  if (environment_(sandboxVariable)) {
    return std::nullopt;
  }
  const std::string& tool = timeMachineTool_;
  struct stat status {};
  if (::stat(tool.c_str(), &status) != 0 || !S_ISREG(status.st_mode) ||
      ::access(tool.c_str(), X_OK) != 0) {
    return std::nullopt;
  }
  auto output = processRunner_.run(tool, arguments);
  if (!output || !isValidUtf8(*output)) {
    return std::nullopt;
  }
  return output;
}

std::optional<bool> BackupDetector::backupIsRunning() {
  const auto output = tmutil({"status"});
  if (!output) {
    return std::nullopt;
  }
  return output->find(runningMarker) != std::string::npos;
}

std::optional<bool> BackupDetector::backupIsRunning(const std::vector<std::string>& mountPaths) {
  const auto timeMachine = backupIsRunning();
  if (timeMachine == true || volumeUsers_ == nullptr) {
    return timeMachine;
  }
  for (const auto& user : volumeUsers_->usersOf(mountPaths)) {
    if (isBackupProgram(user.program)) {
      return true;
    }
  }
  return false;
}
