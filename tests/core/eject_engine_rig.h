#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/eject_engine.h"
#include "core/settings.h"
#include "core/settings_store.h"
#include "platform/fake/fake_disk_describer.h"
#include "platform/fake/fake_ejector.h"
#include "platform/fake/fake_process_runner.h"
#include "platform/fake/fake_volume_monitor.h"
#include "platform/fake/fake_volume_source.h"
#include "platform/fake/fake_volume_users.h"
#include "platform/fake/manual_dispatcher.h"
#include "tests/core/test_files.h"
#include "tests/support/temporary_folder.h"

// Everything an engine needs, faked, and settings in a file of their own. The Time Machine tool's
// path only has to name an executable: the fake runner answers in its place.
struct EngineRig {
  TemporaryFolder settingsFolder;
  SettingsStore settingsStore{settingsFolder / "defaults.plist"};
  Settings settings{settingsStore};
  FakeVolumeSource source;
  FakeDiskDescriber describer;
  FakeProcessRunner runner;
  FakeEjector ejector;
  ManualDispatcher dispatcher;
  FakeVolumeMonitor monitor;
  FakeVolumeUsers users;
  std::filesystem::path toolPath = "/bin/true";
  std::map<std::string, std::string> environment;

  std::unique_ptr<EjectEngine> makeEngine() { return makeEngine(settings); }
  std::unique_ptr<EjectEngine> makeEngine(const Settings& with) {
    EnginePlatform platform{source,   describer,         runner, ejector, dispatcher,
                            &monitor, toolPath.string(), {}};
    platform.volumeUsers = &users;
    platform.environment = [this](const std::string& name) {
      const auto found = environment.find(name);
      return found == environment.end() ? std::nullopt : std::optional(found->second);
    };
    return std::make_unique<EjectEngine>(std::move(platform), with);
  }
};

inline std::vector<std::string> fieldOf(const std::vector<EjectableVolume>& volumes,
                                        std::string EjectableVolume::*field) {
  std::vector<std::string> values;
  values.reserve(volumes.size());
  for (const auto& volume : volumes) {
    values.push_back(volume.*field);
  }
  return values;
}
inline std::vector<std::string> idsOf(const std::vector<EjectableVolume>& volumes) {
  return fieldOf(volumes, &EjectableVolume::id);
}
inline std::vector<std::string> namesOf(const std::vector<EjectableVolume>& volumes) {
  return fieldOf(volumes, &EjectableVolume::name);
}
