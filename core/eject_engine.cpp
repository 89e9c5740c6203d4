#include "core/eject_engine.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <mutex>
#include <numeric>
#include <set>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>

#include <plist/plist.h>

#include "core/backup_protection.h"
#include "core/byte_count_format.h"
#include "core/settings.h"
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

} // namespace

// What a rebuild in the background shares with the engine; it outlives the engine.
struct EjectEngine::Rebuilds {
  std::mutex mutex;
  std::condition_variable finished;
  EjectEngine* engine = nullptr; // none once the engine is gone
  Dispatcher* dispatcher = nullptr;
  bool pending = false; // a pass is queued, running, or its list not yet applied
  bool again = false;   // something changed since that pass started
  int running = 0;
};

EjectEngine::EjectEngine(EnginePlatform platform, const Settings& settings)
    : platform_(std::move(platform)), settings_(settings),
      self_(std::make_shared<EjectEngine*>(this)), rebuilds_(std::make_shared<Rebuilds>()) {
  rebuilds_->engine = this;
  rebuilds_->dispatcher = &platform_.dispatcher;
  volumes_ = listExternalVolumes();
  if (platform_.volumeMonitor != nullptr) {
    // The monitor may call from any thread; the callback only queues work, which finds out
    // under the lock whether the engine still exists.
    platform_.volumeMonitor->start([rebuilds = rebuilds_] { volumesChanged(rebuilds); });
  }
}

EjectEngine::~EjectEngine() {
  if (platform_.volumeMonitor != nullptr) {
    platform_.volumeMonitor->stop();
  }
  self_.reset();
  // A pass already running still reads the platform pieces: wait for it to end.
  std::unique_lock lock(rebuilds_->mutex);
  rebuilds_->engine = nullptr;
  rebuilds_->finished.wait(lock, [this] { return rebuilds_->running == 0; });
}

void EjectEngine::refresh() {
  volumes_ = listExternalVolumes();
}

void EjectEngine::volumesChanged(const std::shared_ptr<Rebuilds>& rebuilds) {
  {
    std::lock_guard lock(rebuilds->mutex);
    if (rebuilds->engine == nullptr) {
      return;
    }
    if (rebuilds->pending) {
      rebuilds->again = true;
      return;
    }
    rebuilds->pending = true;
  }
  rebuildInBackground(rebuilds);
}

// Slow disks answer statvfs and the root listing slowly: the pass runs off the main thread, and
// only its result is applied there.
void EjectEngine::rebuildInBackground(const std::shared_ptr<Rebuilds>& rebuilds) {
  rebuilds->dispatcher->runInBackground([rebuilds] {
    EjectEngine* engine = nullptr;
    {
      std::lock_guard lock(rebuilds->mutex);
      if (rebuilds->engine == nullptr) {
        return;
      }
      engine = rebuilds->engine;
      rebuilds->again = false;
      ++rebuilds->running;
    }
    bool lookLater = false;
    auto volumes = engine->listVolumes(true, lookLater);
    const auto settle = engine->lookInsideAfter();
    std::lock_guard lock(rebuilds->mutex);
    --rebuilds->running;
    rebuilds->finished.notify_all();
    if (rebuilds->engine == nullptr) {
      return;
    }
    if (lookLater) {
      rebuilds->dispatcher->runInBackground([rebuilds, settle] {
        std::this_thread::sleep_for(settle);
        volumesChanged(rebuilds);
      });
    }
    rebuilds->dispatcher->runOnMain([rebuilds, volumes = std::move(volumes)]() mutable {
      EjectEngine* engine = nullptr;
      bool again = false;
      {
        std::lock_guard lock(rebuilds->mutex);
        engine = rebuilds->engine;
        again = rebuilds->again;
        rebuilds->pending = again;
      }
      if (engine == nullptr) {
        return;
      }
      engine->volumes_ = std::move(volumes);
      if (again) {
        rebuildInBackground(rebuilds);
      }
      // Last: the callback may end the engine's life.
      if (engine->onChange_) {
        engine->onChange_();
      }
    });
  });
}

std::optional<std::vector<EjectableVolume>>
EjectEngine::listWhileAlive(const std::shared_ptr<Rebuilds>& rebuilds) {
  EjectEngine* engine = nullptr;
  {
    std::lock_guard lock(rebuilds->mutex);
    if (rebuilds->engine == nullptr) {
      return std::nullopt;
    }
    engine = rebuilds->engine;
    ++rebuilds->running;
  }
  auto volumes = engine->listExternalVolumes();
  std::lock_guard lock(rebuilds->mutex);
  --rebuilds->running;
  rebuilds->finished.notify_all();
  return volumes;
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
  bool lookLater = false;
  return listVolumes(false, lookLater);
}

std::vector<EjectableVolume> EjectEngine::listVolumes(bool leaveNewOnesAlone, bool& lookLater) {
  const auto paths = platform_.volumeSource.mountedVolumePaths();
  // With nothing to mark, asking the tool would only cost a child process.
  if (!paths || paths->empty()) {
    std::lock_guard seenLock(firstSeenMutex_);
    firstSeen_.clear();
    return {};
  }
  const auto known = timeMachineMountPoints();

  // A device mounted at several paths is one volume, known by its shortest path.
  std::vector<EjectableVolume> volumes;
  std::vector<std::optional<std::int64_t>> capacities;
  std::map<std::string, std::size_t> volumeOfDevice;
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
    const std::string device = resources->device.value_or("");
    if (!device.empty()) {
      const auto [found, added] = volumeOfDevice.try_emplace(device, volumes.size());
      if (!added) {
        volumes[found->second].mountPaths.push_back(path);
        continue;
      }
    }
    EjectableVolume volume;
    volume.device = device;
    volume.mountPaths.push_back(path);
    if (resources->localizedName) {
      volume.name = *resources->localizedName;
    } else if (resources->volumeName) {
      volume.name = *resources->volumeName;
    }
    capacities.push_back(resources->totalCapacity);
    volumes.push_back(std::move(volume));
  }
  for (auto& volume : volumes) {
    std::stable_sort(volume.mountPaths.begin(), volume.mountPaths.end(),
                     [](const std::string& left, const std::string& right) {
                       return left.size() < right.size();
                     });
    volume.id = volume.mountPaths.front();
    volume.url = volume.id;
    if (volume.name.empty()) {
      volume.name = lastPathComponent(volume.id);
    }
  }
  // Until a volume the monitor reported has stayed mounted a while it is listed without a size
  // and protected like a backup disk; the lock is not held while anything is looked at.
  std::vector<bool> young(volumes.size(), false);
  {
    const auto now = std::chrono::steady_clock::now();
    std::map<std::string, std::chrono::steady_clock::time_point> seen;
    std::lock_guard seenLock(firstSeenMutex_);
    for (std::size_t index = 0; index < volumes.size(); ++index) {
      const auto key = volumes[index].device + '\n' + volumes[index].id;
      const auto earlier = firstSeen_.find(key);
      const auto first = seen[key] = earlier == firstSeen_.end() ? now : earlier->second;
      young[index] = leaveNewOnesAlone && now - first < lookInsideAfter();
    }
    firstSeen_ = std::move(seen);
  }
  for (std::size_t index = 0; index < volumes.size(); ++index) {
    auto& volume = volumes[index];
    volume.isDiskImage = isDiskImage(volume.id);
    if (young[index]) {
      volume.backupUnknown = volume.contentsPending = lookLater = true;
      continue;
    }
    auto capacity = capacities[index];
    if (!capacity) {
      capacity = platform_.volumeSource.totalCapacity(volume.id);
    }
    if (capacity && *capacity > 0) {
      volume.sizeText = formatByteCount(*capacity);
    }
    const auto backup = backupKind(volume.id, known);
    volume.backupKind = backup.value_or("");
    volume.isTimeMachine = !volume.backupKind.empty();
    volume.backupUnknown = !backup;
  }

  if (volumes.size() < 2) {
    return volumes;
  }
  std::string localeName;
  for (const char* variable : {"LC_ALL", "LC_COLLATE", "LANG"}) {
    const auto value = environmentValue(variable);
    if (value && !value->empty()) {
      localeName = *value;
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
  return !backupKind(mountPath, connues).value_or("").empty();
}

std::optional<std::string> EjectEngine::backupKind(const std::string& mountPath,
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

namespace {

// Programs of the backup tools Linux users run, as the process table names them.
constexpr std::array<std::string_view, 5> backupPrograms{"deja-dup", "duplicity", "timeshift",
                                                         "borg", "restic"};

bool isBackupProgram(std::string_view program) {
  return std::any_of(backupPrograms.begin(), backupPrograms.end(), [&](std::string_view tool) {
    return program == tool || (program.starts_with(tool) && program.substr(tool.size(), 1) == "-");
  });
}

bool isInside(const std::string& path, const std::string& folder) {
  if (folder == "/") {
    return path.size() > 1;
  }
  return path.size() > folder.size() && path.starts_with(folder) && path[folder.size()] == '/';
}

std::vector<std::string> mountPathsOf(const EjectableVolume& volume) {
  return volume.mountPaths.empty() ? std::vector<std::string>{volume.id} : volume.mountPaths;
}

// How many of the other volumes hold this one inside a mount point of theirs.
std::size_t containers(const EjectableVolume& volume, const std::vector<EjectableVolume>& all) {
  std::size_t count = 0;
  for (const auto& other : all) {
    bool holds = false;
    for (const auto& outer : mountPathsOf(other)) {
      for (const auto& inner : mountPathsOf(volume)) {
        holds = holds || isInside(inner, outer);
      }
    }
    count += holds ? 1 : 0;
  }
  return count;
}

std::string joined(const std::vector<std::string>& parts) {
  std::string text;
  for (const auto& part : parts) {
    text += (text.empty() ? "" : ", ") + part;
  }
  return text;
}

std::string systemSaid(const std::string& errorText) {
  return errorText.empty() ? std::string() : L("eject.reason_system", errorText);
}

std::string holdersText(const std::vector<VolumeUser>& users) {
  std::vector<std::string> holders;
  holders.reserve(users.size());
  for (const auto& holder : users) {
    holders.push_back(L("eject.holder", holder.program, holder.pid));
  }
  return holders.empty() ? std::string() : L("eject.reason_holders", joined(holders));
}

std::string holdText(const DeviceHold& hold) {
  using Kind = DeviceHold::Kind;
  const std::string user = L("eject.holder", hold.user.program, hold.user.pid);
  switch (hold.kind) {
  case Kind::otherNamespace:
    return L("eject.reason_other_namespace", user);
  case Kind::overlay:
    return L("eject.reason_overlay", hold.where);
  case Kind::swapFile:
    return L("eject.reason_swap_file", hold.where);
  case Kind::loopDevice:
    return L("eject.reason_loop_on_it", hold.where);
  case Kind::coveredMountPoint:
    return L("eject.reason_covered", hold.where);
  case Kind::openDevice:
    return L("eject.reason_device_open", user);
  }
  return {};
}

// Why a volume stayed mounted, for the alert's detail and the command line: every holder we
// know of, then what was already unmounted.
std::string failureDetail(const EjectOutcome& outcome) {
  std::vector<std::string> reasons;
  const auto add = [&reasons](std::string reason) {
    if (!reason.empty()) {
      reasons.push_back(std::move(reason));
    }
  };
  add(holdersText(outcome.holders));
  if (!outcome.nestedMounts.empty()) {
    add(L("eject.reason_nested", joined(outcome.nestedMounts)));
  }
  for (const auto& hold : outcome.holds) {
    add(holdText(hold));
  }
  switch (outcome.failure) {
  case EjectFailure::notAuthorised:
    add(L("eject.reason_not_authorised"));
    break;
  case EjectFailure::authenticationCancelled:
    add(L("eject.reason_cancelled"));
    break;
  case EjectFailure::timedOut:
    add(L("eject.reason_timed_out"));
    break;
  case EjectFailure::noWayToUnmount:
    add(L("eject.reason_no_way"));
    break;
  case EjectFailure::stopped:
    add(L("eject.reason_stopped"));
    break;
  case EjectFailure::stillInUse:
    if (reasons.empty()) {
      add(L("eject.reason_still_in_use"));
    }
    break;
  default:
    if (reasons.empty()) {
      add(systemSaid(outcome.errorText));
    }
    break;
  }
  if (!outcome.unmounted.empty()) {
    add(L("eject.reason_already_unmounted", joined(outcome.unmounted)));
  }
  std::string text;
  for (const auto& reason : reasons) {
    text += (text.empty() ? "" : " ") + reason;
  }
  return text;
}

EjectEngine::EjectResult resultOf(EjectableVolume volume, const EjectOutcome& outcome) {
  EjectEngine::EjectResult result;
  result.success = outcome.success;
  if (!outcome.success) {
    result.message = L(outcome.failure == EjectFailure::busy ? "eject.retained_message"
                                                             : "eject.failed_message");
    result.detail = failureDetail(outcome);
  } else if (outcome.leftUndone != EjectOutcome::LeftUndone::nothing) {
    using LeftUndone = EjectOutcome::LeftUndone;
    result.partial = true;
    result.message = L(outcome.leftUndone == LeftUndone::lock         ? "eject.partial_lock"
                       : outcome.leftUndone == LeftUndone::loopDetach ? "eject.partial_loop"
                                                                      : "eject.partial_power_off",
                       volume.name);
    const std::string said = systemSaid(outcome.errorText);
    result.detail = holdersText(outcome.holders);
    result.detail += (result.detail.empty() || said.empty() ? "" : " ") + said;
  }
  result.volume = std::move(volume);
  return result;
}

} // namespace

void EjectEngine::eject(const EjectableVolume& volume, EjectCompletion completion) {
  std::weak_ptr<EjectEngine*> weakSelf = self_;
  Ejector& ejector = platform_.ejector;
  Dispatcher& dispatcher = platform_.dispatcher;
  // An init-capture, so the copy is not const and can be moved on to the main queue.
  dispatcher.runInBackground([weakSelf, rebuilds = rebuilds_, &ejector, &dispatcher,
                              volume = volume, completion = std::move(completion)]() mutable {
    if (weakSelf.expired()) {
      return;
    }
    EjectTarget target;
    target.device = volume.device;
    target.mountPaths = mountPathsOf(volume);
    const EjectOutcome outcome = ejector.eject(target);
    // The list after the ejection is read here too: a dying disk must not freeze the window.
    auto volumes = listWhileAlive(rebuilds);
    if (!volumes) {
      return;
    }
    dispatcher.runOnMain([weakSelf, volume = std::move(volume), outcome,
                          volumes = std::move(*volumes),
                          completion = std::move(completion)]() mutable {
      auto self = weakSelf.lock();
      if (!self) {
        return;
      }
      EjectEngine& engine = **self;
      engine.volumes_ = std::move(volumes);
      EjectResult result = resultOf(std::move(volume), outcome);
      // Last: the completion may end the engine's life.
      self.reset();
      if (completion) {
        completion(std::move(result));
      }
    });
  });
}

void EjectEngine::ejectAll(BatchCompletion completion) {
  if (batchRunning_) {
    return;
  }
  std::vector<EjectableVolume> kept;
  const bool protectBackups = settings_.protectTimeMachine();
  const bool ejectDiskImages = settings_.ejectDiskImages();
  for (const auto& volume : volumes_) {
    if (isProtectedFromEjectAll(volume, protectBackups) ||
        (!ejectDiskImages && volume.isDiskImage)) {
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
  // Innermost first: an outer volume cannot go while another is mounted inside it.
  std::vector<std::size_t> depth;
  depth.reserve(kept.size());
  for (const auto& volume : kept) {
    depth.push_back(containers(volume, kept));
  }
  std::vector<std::size_t> order(kept.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t left, std::size_t right) { return depth[left] > depth[right]; });
  std::vector<EjectableVolume> ordered;
  ordered.reserve(kept.size());
  for (const auto position : order) {
    ordered.push_back(std::move(kept[position]));
  }
  batchRunning_ = true;
  ejectSequentially(std::move(ordered), {}, std::move(completion));
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
      batchRunning_ = false;
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

std::optional<bool> EjectEngine::backupIsRunning(const EjectableVolume& volume) {
  const auto timeMachine = backupIsRunning();
  if (timeMachine == true || platform_.volumeUsers == nullptr) {
    return timeMachine;
  }
  for (const auto& user : platform_.volumeUsers->usersOf(mountPathsOf(volume))) {
    if (isBackupProgram(user.program)) {
      return true;
    }
  }
  return false;
}
