#pragma once

#include <memory>

#include "cli/authorisation_watch.h"
#include "core/eject_engine.h"
#include "core/settings.h"
#include "core/settings_store.h"
#include "platform/linux/libmount_volume_monitor.h"
#include "platform/linux/libmount_volume_source.h"
#include "platform/linux/linux_disk_describer.h"
#include "platform/linux/loop_dispatcher.h"
#include "platform/linux/posix_process_runner.h"

// The real Linux pieces for a program without a Qt event loop, the settings, and the one engine
// over them.
class LinuxPlatform {
 public:
  // Ejects through the system ejector: udisks2, or for root the direct unmount.
  LinuxPlatform();
  // Ejects through the given ejector; with none, every ejection is refused (for listing only,
  // without loading D-Bus).
  explicit LinuxPlatform(std::unique_ptr<Ejector> ejector);
  // The system ejector, telling progress what it waits for and asked by it to stop.
  explicit LinuxPlatform(std::shared_ptr<EjectProgress> progress);
  ~LinuxPlatform();
  LinuxPlatform(const LinuxPlatform&) = delete;
  LinuxPlatform& operator=(const LinuxPlatform&) = delete;

  // Replaces the ejector the engine will use; only before engine() is first called.
  void setEjector(std::unique_ptr<Ejector> ejector);

  // Creates the engine on first use, which runs the first discovery pass. With watchVolumes
  // the engine hears of mounts and unmounts through the volume monitor; its onChange then
  // runs on whichever thread drives dispatcher().runUntil.
  EjectEngine& engine(bool watchVolumes = false);

  LibmountVolumeSource& volumeSource() { return volumeSource_; }
  LinuxDiskDescriber& diskDescriber() { return diskDescriber_; }
  PosixProcessRunner& processRunner() { return processRunner_; }
  LibmountVolumeMonitor& volumeMonitor() { return volumeMonitor_; }
  LoopDispatcher& dispatcher() { return dispatcher_; }
  // The user's settings, from the program's settings file; eject-all follows them.
  Settings& settings() { return settings_; }
  // Every ejection of the engine goes through it.
  const AuthorisationWatch& authorisationWatch() const { return authorisationWatch_; }

 private:
  SettingsStore settingsStore_{SettingsStore::defaultFile()};
  Settings settings_{settingsStore_};
  LibmountVolumeSource volumeSource_;
  LinuxDiskDescriber diskDescriber_{volumeSource_};
  PosixProcessRunner processRunner_;
  LoopDispatcher dispatcher_;
  // Its descriptor is watched by the dispatcher's loop.
  LibmountVolumeMonitor volumeMonitor_{dispatcher_};
  std::unique_ptr<Ejector> ejector_;
  AuthorisationWatch authorisationWatch_{*ejector_};
  // Last: it goes first, while everything it works through still exists.
  std::unique_ptr<EjectEngine> engine_;
};
