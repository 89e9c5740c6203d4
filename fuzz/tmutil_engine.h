#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/eject_engine.h"
#include "platform/fake/fake_disk_describer.h"
#include "platform/fake/fake_ejector.h"
#include "platform/fake/fake_volume_source.h"
#include "platform/fake/manual_dispatcher.h"

// The Time Machine tool, printing what the fuzzer gives it for any arguments. Unlike the test
// fake it keeps no record of its runs, which would grow through millions of inputs.
class ScriptedTool : public ProcessRunner {
 public:
  std::string output;
  std::optional<std::string> run(const std::string&, const std::vector<std::string>&) override {
    return output;
  }
};

// An engine over fakes with that tool. The tool's path only has to name an executable file:
// the scripted runner answers in its place.
struct TmutilEngine {
  FakeVolumeSource source;
  FakeDiskDescriber describer;
  ScriptedTool runner;
  FakeEjector ejector;
  ManualDispatcher dispatcher;
  std::unique_ptr<EjectEngine> engine;

  TmutilEngine() {
    EnginePlatform platform{source, describer, runner, ejector, dispatcher, nullptr, "/bin/sh", {}};
    platform.environment = [](const std::string&) -> std::optional<std::string> {
      return std::nullopt;
    };
    engine = std::make_unique<EjectEngine>(std::move(platform));
  }

  static TmutilEngine& shared() {
    static TmutilEngine* rig = new TmutilEngine; // outlives exit-time code
    return *rig;
  }
};
