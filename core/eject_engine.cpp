#include "core/eject_engine.h"

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <numeric>
#include <set>
#include <string_view>
#include <unordered_map>
#include <tuple>
#include <thread>
#include <utility>

#include "core/backup_protection.h"
#include "core/byte_count_format.h"
#include "core/settings.h"
#include "core/localization.h"
#include "core/name_order.h"

namespace {

constexpr const char* diskImageModel = "Disk Image";
constexpr const char* diskImageProtocol = "Virtual Interface";

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
  // While only the tray's icon, tooltip and menu show the list, a pass that changed nothing
  // they show (a volume's size and backup marks, looked at a moment after its mount) leaves
  // its list here instead of waking the main thread; the next read there takes it.
  bool detailsShown = true;
  std::optional<std::vector<EjectableVolume>> quietList;
  std::vector<std::tuple<std::string, std::string, bool>> glance; // of the last list handed on
};

namespace {

std::vector<std::tuple<std::string, std::string, bool>>
glanceOf(const std::vector<EjectableVolume>& volumes) {
  std::vector<std::tuple<std::string, std::string, bool>> glance;
  glance.reserve(volumes.size());
  for (const auto& volume : volumes) {
    glance.emplace_back(volume.id, volume.name, volume.isDiskImage);
  }
  return glance;
}

bool sameAtAGlance(const std::vector<EjectableVolume>& volumes,
                   const std::vector<std::tuple<std::string, std::string, bool>>& glance) {
  return std::equal(volumes.begin(), volumes.end(), glance.begin(), glance.end(),
                    [](const EjectableVolume& volume, const auto& seen) {
                      return std::tie(volume.id, volume.name, volume.isDiskImage) == seen;
                    });
}

} // namespace

EjectEngine::EjectEngine(EnginePlatform platform, const Settings& settings)
    : platform_(std::move(platform)), settings_(settings),
      backups_(platform_.processRunner, platform_.timeMachineTool, platform_.environment,
               platform_.volumeUsers),
      self_(std::make_shared<EjectEngine*>(this)), rebuilds_(std::make_shared<Rebuilds>()) {
  if (!platform_.environment) {
    platform_.environment = [](const std::string& name) -> std::optional<std::string> {
      const char* value = std::getenv(name.c_str());
      return value == nullptr ? std::nullopt : std::optional<std::string>(value);
    };
  }
  rebuilds_->engine = this;
  rebuilds_->dispatcher = &platform_.dispatcher;
  volumes_ = listExternalVolumes();
  rebuilds_->glance = glanceOf(volumes_);
  if (platform_.volumeMonitor != nullptr) {
    // The monitor may call from any thread; work it queues finds out under the lock whether
    // the engine still exists.
    VolumeMonitor* monitor = platform_.volumeMonitor;
    monitor->start([rebuilds = rebuilds_, monitor] {
      volumesChanged(rebuilds,
                     monitor->callsBackOnMainThread() ? Caller::mainThread : Caller::anyThread);
    });
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
  auto volumes = listExternalVolumes();
  std::lock_guard lock(rebuilds_->mutex);
  volumes_ = std::move(volumes);
  rebuilds_->glance = glanceOf(volumes_);
  rebuilds_->quietList.reset();
}

const std::vector<EjectableVolume>& EjectEngine::volumes() const {
  takeQuietList();
  return volumes_;
}

void EjectEngine::takeQuietList() const {
  std::lock_guard lock(rebuilds_->mutex);
  if (rebuilds_->quietList) {
    volumes_ = std::move(*rebuilds_->quietList);
    rebuilds_->quietList.reset();
  }
}

void EjectEngine::setDetailsShown(bool shown) {
  {
    std::lock_guard lock(rebuilds_->mutex);
    if (rebuilds_->detailsShown == shown) {
      return;
    }
    rebuilds_->detailsShown = shown;
  }
  if (shown && contentsPending()) {
    volumesChanged(rebuilds_, Caller::anyThread);
  }
}

bool EjectEngine::contentsPending() const {
  const auto& listed = volumes();
  return std::any_of(listed.begin(), listed.end(),
                     [](const EjectableVolume& volume) { return volume.contentsPending; });
}

bool EjectEngine::lookInsideFirst(std::function<void()> then) {
  if (!contentsPending()) {
    return false;
  }
  std::weak_ptr<EjectEngine*> weakSelf = self_;
  Dispatcher& dispatcher = platform_.dispatcher;
  dispatcher.runInBackground(
      [weakSelf, rebuilds = rebuilds_, &dispatcher, then = std::move(then)]() mutable {
        auto volumes = listWhileAlive(rebuilds);
        if (!volumes) {
          return;
        }
        dispatcher.runOnMain(
            [weakSelf, volumes = std::move(*volumes), then = std::move(then)]() mutable {
              if (weakSelf.expired()) {
                return;
              }
              EjectEngine& engine = **weakSelf.lock();
              engine.volumes_ = std::move(volumes);
              if (engine.onChange_) {
                engine.onChange_();
              }
              // The change callback may have ended the engine's life.
              if (!weakSelf.expired()) {
                then();
              }
            });
      });
  return true;
}

void EjectEngine::volumesChanged(const std::shared_ptr<Rebuilds>& rebuilds, Caller caller) {
  bool here = false;
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
    // Without details shown the pass reads only the kernel's tables and udev's records, never a
    // disk: on the main thread it spares two hand-overs.
    here = caller == Caller::mainThread && !rebuilds->detailsShown;
  }
  if (here) {
    rebuildOnMain(rebuilds);
  } else if (caller == Caller::backgroundThread) {
    rebuild(rebuilds);
  } else {
    rebuildInBackground(rebuilds);
  }
}

void EjectEngine::rebuildOnMain(const std::shared_ptr<Rebuilds>& rebuilds) {
  EjectEngine* engine = nullptr;
  {
    std::lock_guard lock(rebuilds->mutex);
    engine = rebuilds->engine;
    rebuilds->again = false;
  }
  bool lookLater = false;
  auto volumes = engine->listVolumes(Looking::alreadyLooked, true, lookLater);
  bool again = false;
  bool shown = false;
  {
    std::lock_guard lock(rebuilds->mutex);
    again = rebuilds->again;
    rebuilds->pending = again;
    shown = !sameAtAGlance(volumes, rebuilds->glance);
    if (shown) {
      rebuilds->glance = glanceOf(volumes);
    }
    rebuilds->quietList.reset();
  }
  engine->volumes_ = std::move(volumes);
  if (again) {
    rebuildInBackground(rebuilds);
  }
  // Last: the callback may end the engine's life.
  if (shown && engine->onChange_) {
    engine->onChange_();
  }
}

// Slow disks answer statvfs and the root listing slowly: the pass runs off the main thread, and
// only its result is applied there.
void EjectEngine::rebuildInBackground(const std::shared_ptr<Rebuilds>& rebuilds) {
  rebuilds->dispatcher->runInBackground([rebuilds] { rebuild(rebuilds); });
}

void EjectEngine::rebuild(const std::shared_ptr<Rebuilds>& rebuilds) {
  EjectEngine* engine = nullptr;
  Looking looking = Looking::settled;
  {
    std::lock_guard lock(rebuilds->mutex);
    if (rebuilds->engine == nullptr) {
      return;
    }
    engine = rebuilds->engine;
    rebuilds->again = false;
    looking = rebuilds->detailsShown ? Looking::settled : Looking::alreadyLooked;
    ++rebuilds->running;
  }
  bool lookLater = false;
  auto volumes = engine->listVolumes(looking, true, lookLater);
  const auto settle = engine->lookInsideAfter();
  std::lock_guard lock(rebuilds->mutex);
  --rebuilds->running;
  rebuilds->finished.notify_all();
  if (rebuilds->engine == nullptr) {
    return;
  }
  VolumeMonitor* monitor = engine->platform_.volumeMonitor;
  if (lookLater && (monitor == nullptr || !monitor->callBackAfter(settle))) {
    rebuilds->dispatcher->runInBackground([rebuilds, settle] {
      std::this_thread::sleep_for(settle);
      volumesChanged(rebuilds, Caller::backgroundThread);
    });
  }
  if (!rebuilds->detailsShown && !rebuilds->again && sameAtAGlance(volumes, rebuilds->glance)) {
    rebuilds->quietList = std::move(volumes);
    rebuilds->pending = false;
    return;
  }
  rebuilds->glance = glanceOf(volumes);
  rebuilds->quietList.reset();
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
    engine->takeQuietList();
    if (again) {
      rebuildInBackground(rebuilds);
    }
    // Last: the callback may end the engine's life.
    if (engine->onChange_) {
      engine->onChange_();
    }
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
  bool lookLater = false;
  auto volumes = engine->listVolumes(Looking::everything, true, lookLater);
  std::lock_guard lock(rebuilds->mutex);
  --rebuilds->running;
  rebuilds->finished.notify_all();
  // Handed to the main thread by the caller: newer than any list left for it before.
  rebuilds->glance = glanceOf(volumes);
  rebuilds->quietList.reset();
  return volumes;
}

std::vector<EjectableVolume> EjectEngine::listExternalVolumes() {
  bool lookLater = false;
  return listVolumes(Looking::everything, false, lookLater);
}

std::vector<EjectableVolume> EjectEngine::listVolumes(Looking looking, bool reuse,
                                                      bool& lookLater) {
  const auto table = platform_.volumeSource.mountTable();
  // With nothing to mark, asking the tool would only cost a child process.
  if (!table || table->empty()) {
    std::lock_guard seenLock(seenMutex_);
    firstSeen_.clear();
    probes_.clear();
    return {};
  }
  const auto known = backups_.timeMachineMountPoints();

  // What the last pass found of a path still holds while the table shows the same mount there;
  // taken out under the lock (a pass running beside this one probes afresh), looked at without
  // it, put back at the end.
  std::map<std::string, Probe> earlier;
  if (reuse) {
    std::lock_guard seenLock(seenMutex_);
    earlier = std::move(probes_);
    probes_.clear();
  }
  // The last pass's entries move over whole, so a path that stayed costs no allocation.
  std::map<std::string, Probe> probes;
  for (const auto& entry : *table) {
    auto node = earlier.extract(entry.mountPath);
    if (node && entry.stamp && node.mapped().stamp == entry.stamp) {
      probes.insert(std::move(node));
      continue;
    }
    Probe& probe = node ? probes.insert(std::move(node)).position->second : probes[entry.mountPath];
    probe = Probe{};
    probe.stamp = entry.stamp;
    probe.resources = platform_.volumeSource.resourceValues(entry.mountPath);
  }

  // A device mounted at several paths is one volume, known by its shortest path.
  std::vector<EjectableVolume> volumes;
  std::vector<std::optional<std::int64_t>> capacities;
  std::unordered_map<std::string_view, std::size_t> volumeOfDevice;
  for (const auto& entry : *table) {
    const auto& path = entry.mountPath;
    const auto& resources = probes[path].resources;
    if (!resources) {
      continue;
    }
    if (resources->isInternal.value_or(false)) {
      continue;
    }
    if (!resources->isRemovable.value_or(false) && !resources->isEjectable.value_or(false)) {
      continue;
    }
    const std::string_view device =
        resources->device ? std::string_view(*resources->device) : std::string_view();
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
  // Until a volume the monitor reported has stayed mounted a while (or, with nobody shown its
  // details, until someone needs them) it is listed without a size and protected like a backup
  // disk; the lock is not held while anything is looked at.
  std::vector<bool> young(volumes.size(), false);
  {
    const auto now = std::chrono::steady_clock::now();
    std::map<std::string, std::chrono::steady_clock::time_point> seen;
    std::string key;
    std::lock_guard seenLock(seenMutex_);
    for (std::size_t index = 0; index < volumes.size(); ++index) {
      key.assign(volumes[index].device).append(1, '\n').append(volumes[index].id);
      auto node = firstSeen_.extract(key);
      const auto first = node ? node.mapped() : now;
      if (node) {
        seen.insert(std::move(node));
      } else {
        seen.emplace(key, now);
      }
      young[index] = looking == Looking::settled && now - first < lookInsideAfter();
    }
    firstSeen_ = std::move(seen);
  }
  for (std::size_t index = 0; index < volumes.size(); ++index) {
    auto& volume = volumes[index];
    Probe& probe = probes[volume.id];
    if (!probe.described) {
      probe.isDiskImage = isDiskImage(volume.id);
      probe.described = true;
    }
    volume.isDiskImage = probe.isDiskImage;
    if (young[index]) {
      volume.backupUnknown = volume.contentsPending = lookLater = true;
      continue;
    }
    if (looking == Looking::alreadyLooked && !probe.lookedInside) {
      volume.backupUnknown = volume.contentsPending = true;
      continue;
    }
    auto capacity = capacities[index];
    if (!capacity && !probe.capacityRead) {
      probe.capacity = platform_.volumeSource.totalCapacity(volume.id);
      probe.capacityRead = true;
    }
    capacity = capacity ? capacity : probe.capacity;
    if (capacity && *capacity > 0) {
      if (probe.sizeOf != capacity) {
        probe.sizeText = formatByteCount(*capacity);
        probe.sizeOf = capacity;
      }
      volume.sizeText = probe.sizeText;
    }
    if (!probe.lookedInside) {
      probe.backupKind = backups_.backupKind(volume.id, {});
      probe.lookedInside = true;
    }
    const auto backup =
        known.contains(volume.id) ? std::optional<std::string>("time-machine") : probe.backupKind;
    volume.backupKind = backup.value_or("");
    volume.isTimeMachine = !volume.backupKind.empty();
    volume.backupUnknown = !backup;
  }
  {
    std::lock_guard seenLock(seenMutex_);
    probes_ = std::move(probes);
  }

  if (volumes.size() < 2) {
    return volumes;
  }
  std::string localeName;
  for (const char* variable : {"LC_ALL", "LC_COLLATE", "LANG"}) {
    const auto value = platform_.environment(variable);
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

namespace {
bool isInside(const std::string& path, const std::string& folder) {
  if (folder == "/") {
    return path.size() > 1;
  }
  return path.size() > folder.size() && path.starts_with(folder) && path[folder.size()] == '/';
}

// How many of the other volumes hold this one inside a mount point of theirs.
std::size_t containers(const EjectableVolume& volume, const std::vector<EjectableVolume>& all) {
  std::size_t count = 0;
  for (const auto& other : all) {
    bool holds = false;
    for (const auto& outer : other.mountPoints()) {
      for (const auto& inner : volume.mountPoints()) {
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
    target.mountPaths = volume.mountPoints();
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
  takeQuietList();
  std::vector<EjectableVolume> kept;
  const bool protectBackups = settings_.protectTimeMachine();
  const bool ejectDiskImages = settings_.ejectDiskImages();
  for (const auto& volume : volumes_) {
    if (!isLeftOutOfEjectAll(volume, protectBackups, ejectDiskImages)) {
      kept.push_back(volume);
    }
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

std::optional<bool> EjectEngine::backupIsRunning(const EjectableVolume& volume) {
  return backups_.backupIsRunning(volume.mountPoints());
}
