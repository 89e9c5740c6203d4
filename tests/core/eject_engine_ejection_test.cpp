#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/localization.h"
#include "platform/linux/loop_dispatcher.h"
#include "tests/core/eject_engine_rig.h"

using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

using EjectResult = EjectEngine::EjectResult;
using LeftUndone = EjectOutcome::LeftUndone;

std::vector<std::string> idsOf(const std::vector<EjectResult>& results) {
  std::vector<std::string> ids;
  for (const auto& result : results) {
    ids.push_back(result.volume.id);
  }
  return ids;
}

class EjectEngineEjection : public ::testing::Test {
 protected:
  void mount(const std::vector<std::pair<std::string, std::string>>& pathsAndNames) {
    for (const auto& [path, name] : pathsAndNames) {
      rig.source.addVolume(path, FakeVolumeSource::external(name));
    }
  }

  EngineRig rig;
};

} // namespace

TEST_F(EjectEngineEjection, EjectAll_NestedVolumesFirstBackupsKeptAndASecondBatchIsIgnored) {
  const TemporaryFolder backup;
  std::filesystem::create_directories(backup / "E/Backups.backupdb"); // protected: stays
  mount({{"/media/a", "A outer"},
         {"/media/a/b", "B middle"},
         {"/media/a/b/c", "C inner"},
         {"/media/ab", "D beside"},
         {(backup / "E").string(), "E backup"}});
  auto engine = rig.makeEngine();
  std::vector<EjectResult> results;
  int completions = 0;
  engine->ejectAll([&](std::vector<EjectResult> all) {
    results = std::move(all);
    ++completions;
  });
  EXPECT_TRUE(engine->batchRunning());
  engine->ejectAll([&](std::vector<EjectResult>) { ++completions; });
  rig.dispatcher.drainAll();
  EXPECT_FALSE(engine->batchRunning());
  EXPECT_EQ(completions, 1);
  EXPECT_THAT(idsOf(results), ElementsAre("/media/a/b/c", "/media/a/b", "/media/a", "/media/ab"));
  EXPECT_THAT(rig.ejector.ejectedPaths(),
              ElementsAre("/media/a/b/c", "/media/a/b", "/media/a", "/media/ab"));
}

TEST_F(EjectEngineEjection, Result_SaysWhyAndSeparatesAPartialSuccess) {
  struct Row {
    EjectFailure failure; // none: unmounted
    LeftUndone leftUndone;
    std::string errorText;
    std::string message;
    std::string detail;
  };
  using enum EjectFailure;
  const std::vector<Row> rows{
      {busy, LeftUndone::nothing, "", L("eject.retained_message"),
       "sleep (process 42), bash (process 7)"},
      {busy, LeftUndone::nothing, "target is busy", L("eject.retained_message"), "target is busy"},
      {nestedVolume, LeftUndone::nothing, "", L("eject.failed_message"), "/media/a/inner"},
      {timedOut, LeftUndone::nothing, "", L("eject.failed_message"), L("eject.reason_timed_out")},
      {other, LeftUndone::nothing, "I/O error", L("eject.failed_message"), "I/O error"},
      {none, LeftUndone::powerOff, "refused", L("eject.partial_power_off", "A"), "refused"},
      {none, LeftUndone::loopDetach, "", L("eject.partial_loop", "A"), "sleep (process 42)"},
      {held, LeftUndone::nothing, "", L("eject.failed_message"),
       L("eject.reason_other_namespace", "sleep (process 123)") + " " +
           L("eject.reason_already_unmounted", "/media/a/c2")},
  };
  mount({{"/media/a", "A"}});
  auto engine = rig.makeEngine();
  for (const auto& row : rows) {
    EjectOutcome outcome;
    outcome.success = row.failure == none;
    outcome.failure = row.failure;
    outcome.leftUndone = row.leftUndone;
    outcome.errorText = row.errorText;
    if (row.errorText.empty()) {
      outcome.holders = {{"sleep", 42}, {"bash", 7}};
    }
    if (row.failure == nestedVolume) {
      outcome.nestedMounts = {"/media/a/inner"};
    }
    if (row.failure == held) {
      outcome.holders.clear();
      outcome.holds = {{DeviceHold::Kind::otherNamespace, "123", {"sleep", 123}}};
      outcome.unmounted = {"/media/a/c2"};
    }
    rig.ejector.setOutcome("/media/a", outcome);
    std::optional<EjectResult> result;
    engine->eject(engine->volumes()[0], [&](EjectResult made) { result = std::move(made); });
    rig.dispatcher.drainAll();
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->success, row.failure == none) << row.message;
    EXPECT_EQ(result->partial, row.leftUndone != LeftUndone::nothing) << row.message;
    EXPECT_EQ(result->message.value_or(""), row.message);
    EXPECT_THAT(result->detail, HasSubstr(row.detail)) << row.message;
  }
}

TEST_F(EjectEngineEjection, EjectAll_StepsOneAtATimeOffTheMainThreadAndEndsNothingOnceGone) {
  mount({{"/media/a", "A"}, {"/media/b", "B"}});
  rig.ejector.setFailure("/media/a");
  rig.ejector.setOnEject([this](const std::string& path) { rig.source.removeVolume(path); });
  auto engine = rig.makeEngine();
  std::size_t listedInsideCompletion = 9;
  engine->eject(engine->volumes()[1], [&](EjectResult) {
    listedInsideCompletion = engine->volumes().size(); // rebuilt before the completion runs
  });
  rig.dispatcher.drainAll();
  EXPECT_EQ(listedInsideCompletion, 1u);
  rig.source.addVolume("/media/b", FakeVolumeSource::external("B"));
  engine->refresh();
  rig.ejector.setOnEject({});
  engine->ejectAll([](std::vector<EjectResult>) {});
  EXPECT_EQ(rig.dispatcher.drainBackground(), 1);
  EXPECT_EQ(rig.dispatcher.drainBackground(), 0); // b waits for a's result, failed or not
  EXPECT_EQ(rig.dispatcher.drainMain(), 1);
  EXPECT_EQ(rig.dispatcher.drainBackground(), 1);
  bool called = false;
  engine->setOnChange([&] { called = true; });
  rig.monitor.fire();
  engine.reset();
  rig.dispatcher.drainAll();
  EXPECT_FALSE(called);
  EXPECT_THAT(rig.ejector.ejectedPaths(), ElementsAre("/media/b", "/media/a", "/media/b"));

  LoopDispatcher threaded;
  EnginePlatform platform{rig.source, rig.describer,         rig.runner, rig.ejector, threaded,
                          nullptr,    rig.toolPath.string(), {}};
  EjectEngine real(std::move(platform), rig.settings);
  std::optional<std::thread::id> completedOn;
  real.ejectAll([&](std::vector<EjectResult>) { completedOn = std::this_thread::get_id(); });
  threaded.runUntil([&] { return completedOn.has_value(); });
  EXPECT_EQ(completedOn, std::this_thread::get_id());
  EXPECT_NE(rig.ejector.calls().back().thread, std::this_thread::get_id());
}
