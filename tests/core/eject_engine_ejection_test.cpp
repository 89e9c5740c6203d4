#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/eject_settings.h"
#include "core/localization.h"
#include "platform/linux/loop_dispatcher.h"
#include "platform/linux/posix_process_runner.h"
#include "tests/core/eject_engine_rig.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

using EjectResult = EjectEngine::EjectResult;

std::vector<std::string> idsOf(const std::vector<EjectResult>& results) {
  std::vector<std::string> ids;
  for (const auto& result : results) {
    ids.push_back(result.volume.id);
  }
  return ids;
}

class EjectEngineEjection : public ::testing::Test {
 protected:
  void SetUp() override {
    EjectSettings::defaults().remove(EjectSettings::protectTimeMachineKey);
    EjectSettings::defaults().remove(EjectSettings::ejectDiskImagesKey);
  }

  // An external disk, a disk image, a Time Machine volume and one that is both an image and a
  // backup, listed in this order by name.
  void mountDiskImageAndBackups() {
    rig.describer.setDiskImage("/media/b-image");
    rig.describer.setDiskImage("/Volumes/Archive 2019");
    rig.runner.setOutput({"destinationinfo", "-X"}, readFixture("tmutil/destinationinfo.xml"));
    rig.source.setVolumes({{"/Volumes/Sauvegarde Mac", FakeVolumeSource::external("C backup")},
                           {"/Volumes/Archive 2019", FakeVolumeSource::external("D both")},
                           {"/media/b-image", FakeVolumeSource::external("B image")},
                           {"/media/a-disk", FakeVolumeSource::external("A disk")}});
  }

  // Takes the volume off the fake mount table when it is ejected successfully.
  void unmountOnEject() {
    rig.ejector.setOnEject(
        [this](const std::string& mountPath) { rig.source.removeVolume(mountPath); });
  }

  // Ejects everything the settings allow and runs the queues until the batch is done.
  std::vector<EjectResult> ejectAllNow(EjectEngine& engine) {
    std::optional<std::vector<EjectResult>> results;
    engine.ejectAll([&](std::vector<EjectResult> all) { results = std::move(all); });
    rig.dispatcher.drainAll();
    EXPECT_TRUE(results.has_value());
    return results.value_or(std::vector<EjectResult>{});
  }

  EngineRig rig;
};

// --- Which volumes eject-all takes ---

TEST_F(EjectEngineEjection, EjectAll_TakesWhatTheSwitchesAllowReadingThemAtEachCall) {
  mountDiskImageAndBackups();
  auto engine = rig.makeEngine();
  ASSERT_EQ(engine->volumes().size(), 4u);
  const auto results = ejectAllNow(*engine);
  ASSERT_THAT(idsOf(results), ElementsAre("/media/a-disk"));
  EXPECT_TRUE(results[0].success);
  EXPECT_EQ(results[0].message, std::nullopt);
  EXPECT_THAT(rig.ejector.ejectedPaths(), ElementsAre("/media/a-disk"));

  // A backup that is also an image is kept out by either rule.
  EjectSettings::setEjectDiskImages(true);
  EXPECT_THAT(idsOf(ejectAllNow(*engine)), ElementsAre("/media/a-disk", "/media/b-image"));
  EjectSettings::setProtectTimeMachine(false);
  EXPECT_THAT(idsOf(ejectAllNow(*engine)),
              ElementsAre("/media/a-disk", "/media/b-image", "/Volumes/Sauvegarde Mac",
                          "/Volumes/Archive 2019"));
  EjectSettings::setEjectDiskImages(false);
  EXPECT_THAT(idsOf(ejectAllNow(*engine)), ElementsAre("/media/a-disk", "/Volumes/Sauvegarde Mac"));
}

// --- When completions run ---

TEST_F(EjectEngineEjection, EjectAll_WithNothingOrOnlyExcludedVolumesCompletesInsideTheCall) {
  for (const bool withImage : {false, true}) {
    if (withImage) {
      rig.describer.setDiskImage("/media/image");
      rig.source.addVolume("/media/image", FakeVolumeSource::external("Image"));
    }
    auto engine = rig.makeEngine();
    bool completed = false;
    engine->ejectAll([&](std::vector<EjectResult> all) {
      completed = true;
      EXPECT_THAT(all, IsEmpty());
    });
    EXPECT_TRUE(completed) << "with image " << withImage;
    EXPECT_EQ(rig.dispatcher.pendingBackground() + rig.dispatcher.pendingMain(), 0u);
  }
  EXPECT_THAT(rig.ejector.calls(), IsEmpty());
}

TEST_F(EjectEngineEjection, Eject_CompletesOnTheMainQueueAfterTheListWasRebuiltFailureOrNot) {
  rig.source.setVolumes({{"/media/a", FakeVolumeSource::external("A")},
                         {"/media/b", FakeVolumeSource::external("B")}});
  unmountOnEject();
  rig.ejector.setFailure("/media/b", "target is busy");
  auto engine = rig.makeEngine();
  int changes = 0;
  engine->setOnChange([&] { ++changes; });
  std::optional<EjectResult> result;
  std::vector<std::string> listInsideCompletion;
  auto keep = [&](EjectResult outcome) {
    listInsideCompletion = idsOf(engine->volumes());
    result = std::move(outcome);
  };
  EjectableVolume first = engine->volumes()[0];
  engine->eject(first, keep);
  first.id = "changed afterwards"; // the engine took its own copy
  EXPECT_FALSE(result.has_value());
  rig.dispatcher.drainBackground();
  EXPECT_FALSE(result.has_value()); // the outcome travels through the main queue
  EXPECT_THAT(idsOf(engine->volumes()), ElementsAre("/media/a", "/media/b"));
  rig.dispatcher.drainMain();
  ASSERT_TRUE(result.has_value());
  EXPECT_TRUE(result->success);
  EXPECT_EQ(result->message, std::nullopt);
  EXPECT_EQ(result->volume.id, "/media/a");
  EXPECT_EQ(result->volume.name, "A");
  EXPECT_THAT(listInsideCompletion, ElementsAre("/media/b"));

  const int passes = rig.source.listCalls();
  engine->eject(engine->volumes()[0], keep);
  rig.dispatcher.drainAll();
  EXPECT_FALSE(result->success);
  EXPECT_EQ(result->volume.id, "/media/b");
  EXPECT_EQ(result->message, L("eject.retained_message"));
  EXPECT_EQ(rig.source.listCalls(), passes + 1);
  EXPECT_EQ(changes, 0);
}

TEST_F(EjectEngineEjection, EjectAll_StartsTheNextOnlyAfterThePreviousResultEvenAFailureArrived) {
  rig.source.setVolumes({{"/media/a", FakeVolumeSource::external("A")},
                         {"/media/b", FakeVolumeSource::external("B")}});
  rig.ejector.setFailure("/media/a", "Device or resource busy");
  auto engine = rig.makeEngine();
  bool completed = false;
  std::vector<EjectResult> results;
  engine->ejectAll([&](std::vector<EjectResult> all) {
    completed = true;
    results = std::move(all);
  });
  EXPECT_EQ(rig.dispatcher.pendingBackground(), 1u);
  EXPECT_EQ(rig.dispatcher.drainBackground(), 1);
  EXPECT_THAT(rig.ejector.ejectedPaths(), ElementsAre("/media/a"));
  EXPECT_EQ(rig.dispatcher.pendingBackground(), 0u); // b waits for a's result
  EXPECT_EQ(rig.dispatcher.drainBackground(), 0);
  EXPECT_THAT(rig.ejector.ejectedPaths(), ElementsAre("/media/a"));

  EXPECT_EQ(rig.dispatcher.drainMain(), 1);
  EXPECT_FALSE(completed);
  EXPECT_EQ(rig.dispatcher.pendingBackground(), 1u);
  rig.dispatcher.drainBackground();
  EXPECT_THAT(rig.ejector.ejectedPaths(), ElementsAre("/media/a", "/media/b"));
  EXPECT_FALSE(completed);
  rig.dispatcher.drainMain();
  EXPECT_TRUE(completed);
  ASSERT_THAT(idsOf(results), ElementsAre("/media/a", "/media/b"));
  EXPECT_FALSE(results[0].success);
  EXPECT_EQ(results[0].message, L("eject.retained_message"));
  EXPECT_NE(results[0].message, "Device or resource busy");
  EXPECT_TRUE(results[1].success);
  EXPECT_EQ(results[1].message, std::nullopt);
}

TEST_F(EjectEngineEjection, EjectAll_WorksFromTheListTakenAtTheStartAndCompletesAfterTheRebuild) {
  rig.source.setVolumes({{"/media/b", FakeVolumeSource::external("B")},
                         {"/media/c", FakeVolumeSource::external("C")}});
  // While b is ejected, a disk named A is plugged in and c disappears on its own.
  rig.ejector.setOnEject([this](const std::string& mountPath) {
    if (mountPath == "/media/b") {
      rig.source.setVolumes({{"/media/a", FakeVolumeSource::external("A")}});
    }
  });
  auto engine = rig.makeEngine();
  EXPECT_THAT(idsOf(ejectAllNow(*engine)), ElementsAre("/media/b", "/media/c"));
  EXPECT_THAT(rig.ejector.ejectedPaths(), ElementsAre("/media/b", "/media/c"));
  EXPECT_THAT(idsOf(engine->volumes()), ElementsAre("/media/a"));

  // The completion sees the list rebuilt after the last ejection.
  unmountOnEject();
  rig.source.addVolume("/media/b", FakeVolumeSource::external("B"));
  engine->refresh();
  std::optional<std::size_t> left;
  engine->ejectAll([&](std::vector<EjectResult>) { left = engine->volumes().size(); });
  rig.dispatcher.drainAll();
  EXPECT_EQ(left, 0u);
}

TEST_F(EjectEngineEjection, QueuedWorkAndNotificationsDoNothingOnceTheEngineIsGone) {
  rig.source.setVolumes({{"/media/a", FakeVolumeSource::external("A")},
                         {"/media/b", FakeVolumeSource::external("B")}});
  auto engine = rig.makeEngine();
  bool called = false;
  engine->setOnChange([&] { called = true; });
  engine->eject(engine->volumes()[0], [&](EjectResult) { called = true; });
  engine->ejectAll([&](std::vector<EjectResult>) { called = true; });
  rig.dispatcher.drainBackground(); // both outcomes now wait on the main queue
  rig.monitor.fire();               // and so does a rebuild
  engine.reset();
  EXPECT_EQ(rig.monitor.stopCount(), 1);
  EXPECT_FALSE(rig.monitor.fire());
  const int passes = rig.source.listCalls();
  rig.dispatcher.drainAll();
  EXPECT_FALSE(called);
  EXPECT_EQ(rig.source.listCalls(), passes);
}

TEST_F(EjectEngineEjection, EjectAll_UnmountsOffTheMainThreadAndReportsOnIt) {
  EjectSettings::setEjectDiskImages(true);
  rig.describer.setDiskImage("/media/b");
  rig.source.setVolumes({{"/media/a", FakeVolumeSource::external("A")},
                         {"/media/b", FakeVolumeSource::external("B")}});
  LoopDispatcher threaded;
  EnginePlatform platform{rig.source, rig.describer,         rig.runner, rig.ejector, threaded,
                          nullptr,    rig.toolPath.string(), {}};
  EjectEngine engine(std::move(platform));
  const auto mainThread = std::this_thread::get_id();
  std::optional<std::thread::id> completedOn;
  engine.ejectAll([&](std::vector<EjectResult> all) {
    EXPECT_EQ(all.size(), 2u);
    completedOn = std::this_thread::get_id();
  });
  threaded.runUntil([&] { return completedOn.has_value(); });
  EXPECT_EQ(completedOn, mainThread);
  const auto calls = rig.ejector.calls();
  ASSERT_EQ(calls.size(), 2u);
  for (const auto& call : calls) {
    EXPECT_NE(call.thread, mainThread) << call.mountPath;
  }
}

// --- Backup state ---

TEST_F(EjectEngineEjection, BackupIsRunning_MatchesTheMarkerExactlyAndKnowsNothingWithoutAStart) {
  auto engine = rig.makeEngine();
  rig.runner.setOutput({"status"}, "    running = 1;\n    Running=1;\n");
  EXPECT_EQ(engine->backupIsRunning(), false);
  rig.runner.setOutput({"status"}, "xRunning = 1x");
  EXPECT_EQ(engine->backupIsRunning(), true);
  rig.runner.setFailsToStart(true);
  EXPECT_EQ(engine->backupIsRunning(), std::nullopt);
}

// A real tool run as a child process: only "status" as the sole argument gets an answer.
class EjectEngineBackupTool : public EjectEngineEjection {
 protected:
  void SetUp() override {
    EjectEngineEjection::SetUp();
    rig.processRunner = &runner;
  }

  std::optional<bool> askTool(const std::string& statusScript) {
    rig.writeTool("#!/bin/sh\n[ $# -eq 1 ] && [ \"$1\" = status ] || exit 2\n" + statusScript);
    return rig.makeEngine()->backupIsRunning();
  }

  PosixProcessRunner runner;
};

TEST_F(EjectEngineBackupTool, OnlyTheMarkerOnStandardOutputMeansRunningAndAnUnusableToolUnknown) {
  EXPECT_EQ(askTool("cat '" + std::string(VARNELO_TEST_FIXTURES) + "/tmutil/status-running.txt'\n"),
            true);
  EXPECT_EQ(askTool("echo 'Backup session status:'; echo '    Running = 0;'\n"), false);
  EXPECT_EQ(askTool("exit 0\n"), false);
  EXPECT_EQ(askTool("exit 1\n"), false);
  EXPECT_EQ(askTool("echo 'Running = 1' >&2\n"), false); // standard error is not read
  EXPECT_EQ(askTool("printf 'Running = 1'; exit 5\n"), true);

  rig.toolPath = rig.tools / "absent";
  EXPECT_EQ(rig.makeEngine()->backupIsRunning(), std::nullopt);
  rig.toolPath = rig.tools / "tmutil";
  EXPECT_EQ(askTool("printf 'Running = 1\\377\\n'\n"), std::nullopt); // not UTF-8
  rig.writeTool("#!/bin/sh\necho 'Running = 1'\n", 0644);
  EXPECT_EQ(rig.makeEngine()->backupIsRunning(), std::nullopt);
  rig.writeTool("#!/no/such/interpreter\n");
  EXPECT_EQ(rig.makeEngine()->backupIsRunning(), std::nullopt);
}

} // namespace
