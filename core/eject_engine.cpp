#include "core/eject_engine.h"

#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <numeric>
#include <string_view>
#include <system_error>
#include <utility>

#include <plist/plist.h>

#include "core/byte_count_format.h"
#include "core/eject_settings.h"
#include "core/localization.h"
#include "core/name_order.h"
#include "core/utf8_text.h"

namespace {

constexpr const char* sandboxVariable = "APP_SANDBOX_CONTAINER_ID";
constexpr const char* backupDatabaseName = "Backups.backupdb";
constexpr std::string_view backupBundleSuffix = ".backupbundle";
constexpr const char* diskImageModel = "Disk Image";
constexpr const char* diskImageProtocol = "Virtual Interface";
constexpr std::string_view runningMarker = "Running = 1";

// "/media/me/USB/" names "USB"; the root names itself.
std::string lastPathComponent(const std::string& path) {
  const auto end = path.find_last_not_of('/');
  if (end == std::string::npos) {
    return path.empty() ? std::string() : std::string("/");
  }
  const auto slash = path.rfind('/', end);
  const auto start = slash == std::string::npos ? 0 : slash + 1;
  return path.substr(start, end + 1 - start);
}

bool endsWith(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

// "de_DE.UTF-8@euro" -> "de_DE"; "C" and "POSIX" mean no particular language.
std::string icuLocaleName(std::string name) {
  const auto cut = name.find_first_of(".@");
  if (cut != std::string::npos) {
    name.erase(cut);
  }
  if (name == "C" || name == "POSIX") {
    return {};
  }
  return name;
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

} // namespace

EjectEngine::EjectEngine(EnginePlatform platform)
    : platform_(std::move(platform)), self_(std::make_shared<EjectEngine*>(this)) {
  volumes_ = listExternalVolumes();
  if (platform_.volumeMonitor != nullptr) {
    // The monitor may call from any thread, so the callback touches neither the engine nor
    // its fields: it only queues the rebuild, which finds out on the main thread whether the
    // engine still exists.
    std::weak_ptr<EjectEngine*> weakSelf = self_;
    Dispatcher& dispatcher = platform_.dispatcher;
    platform_.volumeMonitor->start([weakSelf, &dispatcher] {
      dispatcher.runOnMain([weakSelf] {
        if (auto self = weakSelf.lock()) {
          (*self)->volumesChanged();
        }
      });
    });
  }
}

EjectEngine::~EjectEngine() {
  if (platform_.volumeMonitor != nullptr) {
    platform_.volumeMonitor->stop();
  }
  self_.reset();
}

void EjectEngine::refresh() {
  volumes_ = listExternalVolumes();
}

void EjectEngine::volumesChanged() {
  volumes_ = listExternalVolumes();
  if (onChange_) {
    onChange_();
  }
}

std::optional<std::string> EjectEngine::environmentValue(const std::string& name) const {
  if (platform_.environment) {
    return platform_.environment(name);
  }
  const char* value = std::getenv(name.c_str());
  if (value == nullptr) {
    return std::nullopt;
  }
  return std::string(value);
}

std::vector<EjectableVolume> EjectEngine::listExternalVolumes() {
  const auto paths = platform_.volumeSource.mountedVolumePaths();
  // With nothing to mark, asking the tool would only cost a child process.
  if (!paths || paths->empty()) {
    return {};
  }
  const auto known = timeMachineMountPoints();

  std::vector<EjectableVolume> volumes;
  for (const auto& path : *paths) {
    const auto resources = platform_.volumeSource.resourceValues(path);
    if (!resources) {
      continue;
    }
    if (resources->isInternal.value_or(false)) {
      continue;
    }
    if (!resources->isRemovable.value_or(false) && !resources->isEjectable.value_or(false)) {
      continue;
    }
    EjectableVolume volume;
    volume.id = path;
    volume.url = path;
    if (resources->localizedName) {
      volume.name = *resources->localizedName;
    } else if (resources->volumeName) {
      volume.name = *resources->volumeName;
    } else {
      volume.name = lastPathComponent(path);
    }
    if (resources->totalCapacity && *resources->totalCapacity > 0) {
      volume.sizeText = formatByteCount(*resources->totalCapacity);
    }
    volume.isDiskImage = isDiskImage(path);
    volume.isTimeMachine = isTimeMachine(path, known);
    volumes.push_back(std::move(volume));
  }

  if (volumes.size() < 2) {
    return volumes;
  }
  std::string localeName;
  for (const char* variable : {"LC_ALL", "LC_COLLATE", "LANG"}) {
    const auto value = environmentValue(variable);
    if (value && !value->empty()) {
      localeName = icuLocaleName(*value);
      break;
    }
  }
  const NameOrder order(localeName);
  std::vector<std::size_t> positions(volumes.size());
  std::iota(positions.begin(), positions.end(), std::size_t{0});
  std::stable_sort(positions.begin(), positions.end(), [&](std::size_t left, std::size_t right) {
    return order.less(volumes[left].name, volumes[right].name);
  });
  std::vector<EjectableVolume> sorted;
  sorted.reserve(volumes.size());
  for (const auto position : positions) {
    sorted.push_back(std::move(volumes[position]));
  }
  return sorted;
}

bool EjectEngine::isDiskImage(const std::string& mountPath) {
  const auto description = platform_.diskDescriber.describe(mountPath);
  if (!description) {
    return false;
  }
  return description->deviceModel == diskImageModel ||
         description->deviceProtocol == diskImageProtocol;
}

bool EjectEngine::isTimeMachine(const std::string& mountPath,
                                const std::set<std::string>& connues) {
  if (connues.contains(mountPath)) {
    return true;
  }
  const std::filesystem::path root(mountPath);
  std::error_code error;
  if (std::filesystem::exists(root / backupDatabaseName, error)) {
    return true;
  }
  std::filesystem::directory_iterator entries(root, error);
  if (error) {
    return false;
  }
  for (const std::filesystem::directory_iterator end; entries != end; entries.increment(error)) {
    if (endsWith(entries->path().filename().native(), backupBundleSuffix)) {
      return true;
    }
  }
  // A listing that breaks off part-way has told us all it could.
  return false;
}

std::set<std::string> EjectEngine::timeMachineMountPoints() {
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

std::optional<std::string> EjectEngine::tmutil(const std::vector<std::string>& arguments) {
  if (isSandboxed()) {
    return std::nullopt;
  }
  const std::string& tool = platform_.timeMachineTool;
  struct stat status {};
  if (::stat(tool.c_str(), &status) != 0 || !S_ISREG(status.st_mode) ||
      ::access(tool.c_str(), X_OK) != 0) {
    return std::nullopt;
  }
  auto output = platform_.processRunner.run(tool, arguments);
  if (!output || !isValidUtf8(*output)) {
    return std::nullopt;
  }
  return output;
}

bool EjectEngine::isSandboxed() const {
  return environmentValue(sandboxVariable).has_value();
}

void EjectEngine::eject(const EjectableVolume& volume, EjectCompletion completion) {
  std::weak_ptr<EjectEngine*> weakSelf = self_;
  Ejector& ejector = platform_.ejector;
  Dispatcher& dispatcher = platform_.dispatcher;
  // An init-capture, so the copy is not const and can be moved on to the main queue.
  dispatcher.runInBackground([weakSelf, &ejector, &dispatcher, volume = volume,
                              completion = std::move(completion)]() mutable {
    if (weakSelf.expired()) {
      return;
    }
    const EjectOutcome outcome = ejector.unmountAndEject(volume.id);
    if (!outcome.success) {
      syslog(LOG_WARNING, "Ejecting %s failed: %s", volume.id.c_str(), outcome.errorText.c_str());
    }
    dispatcher.runOnMain([weakSelf, volume = std::move(volume), success = outcome.success,
                          completion = std::move(completion)]() mutable {
      auto self = weakSelf.lock();
      if (!self) {
        return;
      }
      EjectEngine& engine = **self;
      engine.volumes_ = engine.listExternalVolumes();
      EjectResult result;
      result.volume = std::move(volume);
      result.success = success;
      if (!success) {
        result.message = L("eject.retained_message");
      }
      // Last: the completion may end the engine's life.
      self.reset();
      if (completion) {
        completion(std::move(result));
      }
    });
  });
}

void EjectEngine::ejectAll(BatchCompletion completion) {
  std::vector<EjectableVolume> kept;
  for (const auto& volume : volumes_) {
    if (EjectSettings::protectTimeMachine() && volume.isTimeMachine) {
      continue;
    }
    if (!EjectSettings::ejectDiskImages() && volume.isDiskImage) {
      continue;
    }
    kept.push_back(volume);
  }
  if (kept.empty()) {
    if (completion) {
      completion({});
    }
    return;
  }
  ejectSequentially(std::move(kept), {}, std::move(completion));
}

void EjectEngine::ejectSequentially(std::vector<EjectableVolume> remaining,
                                    std::vector<EjectResult> results, BatchCompletion completion) {
  EjectableVolume first = remaining.front();
  remaining.erase(remaining.begin());
  // Runs on the main queue, and only while the engine exists.
  eject(first, [this, remaining = std::move(remaining), results = std::move(results),
                completion = std::move(completion)](EjectResult result) mutable {
    results.push_back(std::move(result));
    if (remaining.empty()) {
      if (completion) {
        completion(std::move(results));
      }
      return;
    }
    ejectSequentially(std::move(remaining), std::move(results), std::move(completion));
  });
}

std::optional<bool> EjectEngine::backupIsRunning() {
  const auto output = tmutil({"status"});
  if (!output) {
    return std::nullopt;
  }
  return output->find(runningMarker) != std::string::npos;
}
