#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/backup_detector.h"
#include "core/ejectable_volume.h"
#include "platform/disk_describer.h"
#include "platform/dispatcher.h"
#include "platform/ejector.h"
#include "platform/process_runner.h"
#include "platform/volume_monitor.h"
#include "platform/volume_source.h"
#include "platform/volume_users.h"

class Settings;

// The platform pieces the engine works through. The application hands in the real ones,
// tests their fakes. All references must outlive the engine.
struct EnginePlatform {
  VolumeSource& volumeSource;
  DiskDescriber& diskDescriber;
  ProcessRunner& processRunner;
  Ejector& ejector;
  Dispatcher& dispatcher;
  // None: the engine hears of no mount or unmount and only rebuilds on request.
  VolumeMonitor* volumeMonitor = nullptr;
  std::string timeMachineTool = "/usr/bin/tmutil";
  // Reads the process environment; getenv when empty.
  std::function<std::optional<std::string>(const std::string&)> environment;
  // None: nobody is asked which programs hold a volume (for backupIsRunning).
  VolumeUsers* volumeUsers = nullptr;
};

// The one object that knows which external volumes are mounted, and ejects them.
// The program creates exactly one; its list is read and replaced on the main thread only.
class EjectEngine {
 public:
  struct EjectResult {
    EjectableVolume volume;
    // No mount of the device remains.
    bool success = false;
    // On failure, the localised retained-volume text; when partial, what was left undone.
    std::optional<std::string> message;
    // Why, localised, for the alert's detail and the command line: the programs holding the
    // volume, a refusal, the system's own message. May be empty.
    std::string detail;
    // Unmounted, so the data is safe, but the drive was not powered off or the encrypted
    // container not locked.
    bool partial = false;
  };
  using EjectCompletion = std::function<void(EjectResult)>;
  using BatchCompletion = std::function<void(std::vector<EjectResult>)>;

  // Runs a first discovery pass on the calling thread, then starts listening for changes.
  // Eject-all reads the settings each time it runs; they must outlive the engine.
  EjectEngine(EnginePlatform platform, const Settings& settings);
  ~EjectEngine();
  EjectEngine(const EjectEngine&) = delete;
  EjectEngine& operator=(const EjectEngine&) = delete;

  // On the main thread. Each call may take a newer list the background left (see
  // setDetailsShown), so iterators from one call are not used with another's.
  const std::vector<EjectableVolume>& volumes() const;
  // Whether a view shows more of each volume than the tray's icon, tooltip and menu do (its
  // size, its backup marks). Shown unless told otherwise. When not, a new volume is not looked
  // inside until someone needs to know (see lookInsideFirst), and a change to those details
  // alone reaches volumes() without a call of onChange. Turning details on looks at once.
  void setDetailsShown(bool shown);
  // On the main thread, before a decision that needs every volume's backup marks. False when
  // the list has no volume left to look inside. Otherwise looks in the background, applies
  // the new list (calling onChange), then calls `then` on the main thread, and returns true;
  // `then` is never called once the engine is gone.
  bool lookInsideFirst(std::function<void()> then);
  // Called on the main thread after each rebuild caused by a mount, unmount or rename. Those
  // rebuilds run in the background, or on the main loop where the monitor calls from there and
  // the pass looks inside no volume; a burst of changes while one runs makes one more, not many.
  void setOnChange(std::function<void()> onChange) { onChange_ = std::move(onChange); }
  // Rebuilds the list at once, on the calling thread; does not call onChange.
  void refresh();

  void eject(const EjectableVolume& volume, EjectCompletion completion);
  // Nested volumes go before the volumes that hold them. While a batch runs, a second call is
  // ignored and its completion never called: see batchRunning().
  void ejectAll(BatchCompletion completion);
  bool batchRunning() const { return batchRunning_; }
  // True while a backup runs or a Linux backup tool holds the volume, false when neither, nothing
  // when the Time Machine tool cannot tell.
  std::optional<bool> backupIsRunning(const EjectableVolume& volume);
  BackupDetector& backups() { return backups_; }

  // The one-line summary of a list of volumes.
  static std::string resume(const std::vector<EjectableVolume>& volumes);

  // One discovery pass; reads no engine state, so it may run on any thread.
  std::vector<EjectableVolume> listExternalVolumes();
  bool isDiskImage(const std::string& mountPath);

 private:
  struct Rebuilds;
  // Where the call comes from: a thread the pass must not hold up, a background thread it may
  // keep busy, or the main thread.
  enum class Caller { anyThread, backgroundThread, mainThread };
  // A mount, unmount or rename happened. On a background thread the pass runs right there; on
  // the main thread, so does one that looks inside no volume.
  static void volumesChanged(const std::shared_ptr<Rebuilds>& rebuilds, Caller caller);
  // Such a pass, and its list applied, on the main thread.
  static void rebuildOnMain(const std::shared_ptr<Rebuilds>& rebuilds);
  static void rebuildInBackground(const std::shared_ptr<Rebuilds>& rebuilds);
  // One pass and its list handed to the main thread, on the calling thread.
  static void rebuild(const std::shared_ptr<Rebuilds>& rebuilds);
  // One discovery pass off the main thread; nothing once the engine is gone.
  static std::optional<std::vector<EjectableVolume>>
  listWhileAlive(const std::shared_ptr<Rebuilds>& rebuilds);
  // What a pass found of one mount path.
  struct Probe {
    std::optional<std::string> stamp;
    std::optional<VolumeResources> resources;
    // The rest only for a path that is a volume's id, each read once.
    bool described = false;
    bool isDiskImage = false;
    bool capacityRead = false;
    std::optional<std::int64_t> capacity;
    std::optional<std::int64_t> sizeOf; // the capacity sizeText shows
    std::string sizeText;
    bool lookedInside = false;
    std::optional<std::string> backupKind; // without the Time Machine tool's destinations
  };
  // Which volumes a pass looks inside (capacity, backup marks).
  enum class Looking {
    everything,
    // Not those mounted too recently; lookLater says whether there were any.
    settled,
    // Only those looked inside before: the rest wait for someone to need them.
    alreadyLooked,
  };
  // One discovery pass. With reuse, only the paths whose mount changed since the last pass are
  // probed: the list is the same, at the cost of one volume.
  std::vector<EjectableVolume> listVolumes(Looking looking, bool reuse, bool& lookLater);
  std::chrono::milliseconds lookInsideAfter() const {
    return platform_.volumeMonitor ? platform_.volumeMonitor->lookInsideAfter()
                                   : std::chrono::milliseconds(0);
  }
  void ejectSequentially(std::vector<EjectableVolume> remaining, std::vector<EjectResult> results,
                         BatchCompletion completion);

  EnginePlatform platform_;
  const Settings& settings_;
  BackupDetector backups_;
  // Takes a list a pass left without waking the main thread.
  void takeQuietList() const;
  // Whether a listed volume still waits to be looked inside; main thread.
  bool contentsPending() const;
  mutable std::vector<EjectableVolume> volumes_;
  std::function<void()> onChange_;
  bool batchRunning_ = false;
  // Work queued on the dispatcher checks this so that it does nothing once the engine is gone.
  std::shared_ptr<EjectEngine*> self_;
  std::shared_ptr<Rebuilds> rebuilds_;
  // When each volume (by device and mount path) was first listed, and what the last pass found of
  // each mount path.
  std::mutex seenMutex_;
  std::map<std::string, std::chrono::steady_clock::time_point> firstSeen_;
  std::map<std::string, Probe> probes_;
};
