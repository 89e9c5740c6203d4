#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/core/eject_engine_rig.h"

using ::testing::ElementsAre;

namespace {

VolumeResources resources(std::optional<bool> internal, std::optional<bool> removable,
                          std::optional<bool> ejectable, std::optional<std::string> device = {}) {
  VolumeResources values;
  std::tie(values.isInternal, values.isRemovable, values.isEjectable, values.device) =
      std::tie(internal, removable, ejectable, device);
  values.totalCapacity = 15'980'000'000;
  return values;
}

const std::vector<std::string> destinationInfo{"destinationinfo", "-X"};

class EjectEngineDiscovery : public ::testing::Test {
 protected:
  EngineRig rig;
};

// Filtered, named, sized, one volume per device by its shortest path; Time Machine destinations
// the tool reports are marked, the tool run once per pass with volumes and never sandboxed.
TEST_F(EjectEngineDiscovery, Listing_FiltersNamesSizesOneVolumePerDeviceAndAsksTheToolOnce) {
  auto named = resources(false, true, true, "/dev/sdb1");
  named.localizedName = "Localised";
  named.volumeName = "Raw";
  auto empty = resources(std::nullopt, std::nullopt, true);
  empty.totalCapacity = 0;
  rig.runner.setOutput(destinationInfo,
                       readFile(VARNELO_TEST_FIXTURES "/tmutil/destinationinfo.xml"));
  rig.source.setVolumes({{"/media/me/long/second/path", named},
                         {"/media/internal", resources(true, true, true)},
                         {"/media/both-false", resources(false, false, false)},
                         {"/media/nothing-known", resources(std::nullopt, std::nullopt, {})},
                         {"/media/unreadable", std::nullopt},
                         {"/media/me/trailing///", empty},
                         {"/Volumes/Sauvegarde Mac", resources(false, true, false, "/dev/sdc1")},
                         {"/Volumes/Sauvegarde", named}});
  auto engine = rig.makeEngine();
  const auto volumes = engine->volumes();
  ASSERT_THAT(idsOf(volumes), ElementsAre("/Volumes/Sauvegarde", "/Volumes/Sauvegarde Mac",
                                          "/media/me/trailing///"));
  EXPECT_THAT(namesOf(volumes), ElementsAre("Localised", "Sauvegarde Mac", "trailing"));
  EXPECT_THAT(volumes[0].mountPaths,
              ElementsAre("/Volumes/Sauvegarde", "/media/me/long/second/path"));
  EXPECT_EQ(volumes[0].device + volumes[0].url.string(), "/dev/sdb1/Volumes/Sauvegarde");
  EXPECT_EQ(volumes[0].sizeText + "|" + volumes[2].sizeText, "15.98 GB|");
  EXPECT_TRUE(!volumes[0].isTimeMachine && volumes[1].backupKind == "time-machine");
  rig.source.setListFails(true);
  engine->refresh();
  EXPECT_TRUE(engine->volumes().empty());
  rig.source.setListFails(false);
  rig.environment["APP_SANDBOX_CONTAINER_ID"] = ""; // sandboxed: never
  engine->refresh();
  EXPECT_EQ(rig.runner.runCount(destinationInfo), 1) << "once per pass with volumes";
}

TEST_F(EjectEngineDiscovery, Sorting_IgnoresCaseKeepsAccentsByTheirLetterAndOrderForEqualNames) {
  const char* names[] = {"beta", "Alpha", "alpha", "Éclair", "\xc3\x28", "Eclair"};
  for (const char* name : names) {
    rig.source.addVolume(std::string("/media/") + name, FakeVolumeSource::external(name));
  }
  for (const char* locale : {"", "C.UTF-8", "fr_FR.UTF-8", "fr_FR.UTF-8@euro", "xx_INVALID"}) {
    rig.environment["LC_ALL"] = locale;
    const auto sorted = namesOf(rig.makeEngine()->volumes());
    EXPECT_THAT(std::vector(sorted.begin(), sorted.begin() + 5),
                ElementsAre("Alpha", "alpha", "beta", "Eclair", "Éclair"))
        << "locale " << locale;
  }
}

// Each change, in the background, probes only the mounts it touched, yet the list is field for
// field the one a full pass makes: a mount, a rename, an unmount, then a burst.
TEST_F(EjectEngineDiscovery, Change_ProbesOnlyWhatChangedAndListsWhatAFullPassWould) {
  const TemporaryFolder disks;
  std::filesystem::create_directories(disks / "b/Backups.backupdb");
  const auto at = [&](const char* name) { return (disks / name).string(); };
  const auto fields = [](const std::vector<EjectableVolume>& volumes) {
    std::string text;
    for (const auto& v : volumes) { // every field
      text += v.id + v.name + v.sizeText + v.backupKind + v.device + v.mountPaths.back() +
              char('0' + v.isTimeMachine + 2 * v.backupUnknown + 4 * v.contentsPending);
    }
    return text;
  };
  const auto rename = [&](const std::string& path, const char* name) { // a new entry, to it
    rig.source.removeVolume(path);
    rig.source.addVolume(path, FakeVolumeSource::external(name));
  };
  rename(at("a"), "A");
  rig.source.addVolume(at("b"), FakeVolumeSource::external("B", 8'000'000'000));
  auto engine = rig.makeEngine();
  int changes = 0;
  engine->setOnChange([&] { ++changes; });
  rig.source.takeProbes();
  const std::pair<std::function<void()>, int> rows[] = {
      {[&] { rig.source.addVolume(at("c"), FakeVolumeSource::external("C")); }, 1},
      {[&] { rename(at("a"), "Z"); }, 1},
      {[&] { rig.source.removeVolume(at("b")); }, 0},
      {[&] {
         rig.source.addVolume(at("b"), FakeVolumeSource::external("B"));
         rig.monitor.fire();
         rig.monitor.fire();
         EXPECT_EQ(rig.dispatcher.drainBackground(), 1) << "one pass for a burst";
         EXPECT_EQ(engine->volumes().size(), 2u) << "its list applied on the main queue only";
         rename(at("c"), "Y"); // after that pass, before its list is applied: one more pass
       },
       2}};
  for (const auto& [change, probed] : rows) {
    change();
    rig.monitor.fire();
    rig.dispatcher.drainAll();
    EXPECT_EQ(rig.source.takeProbes(), probed) << fields(engine->volumes());
    const auto incremental = fields(engine->volumes());
    engine->refresh();
    rig.source.takeProbes();
    EXPECT_EQ(incremental, fields(engine->volumes()));
  }
  EXPECT_EQ(changes, 5);
}

// With the tray alone showing the list, a new volume is listed at once, by a pass right on the
// main loop, but looked inside only when someone needs to know; a change the tray does not show
// wakes nobody; details shown again look at once.
TEST_F(EjectEngineDiscovery, Change_TrayAloneLooksInsideOnlyWhenSomeoneNeedsIt) {
  rig.source.addVolume("/media/A", FakeVolumeSource::external("A", 1'000'000'000));
  rig.monitor.onMainThread = true;
  auto engine = rig.makeEngine();
  engine->setDetailsShown(false);
  int changes = 0;
  engine->setOnChange([&] { ++changes; });
  const auto mount = [&](const char* name, std::int64_t size) {
    const std::string path = std::string("/media/") + name;
    rig.source.removeVolume(path);
    rig.source.addVolume(path, FakeVolumeSource::external(name, size));
    rig.monitor.fire();
    EXPECT_EQ(rig.dispatcher.drainAll(), 0) << "no hand-over";
  };
  const auto state = [&] {
    std::string text;
    for (const auto& volume : engine->volumes()) {
      text += volume.name + ":" + volume.sizeText + (volume.contentsPending ? "?" : "") + " ";
    }
    return text + std::to_string(changes);
  };
  mount("B", 2'000'000'000);
  EXPECT_EQ(state(), "A:1 GB B:? 1");
  mount("B", 3'000'000'000);
  EXPECT_EQ(state(), "A:1 GB B:? 1") << "nothing the tray shows changed";
  int asked = 0;
  EXPECT_TRUE(
      engine->lookInsideFirst([&] { asked += 1 + 10 * engine->volumes()[1].backupUnknown; }));
  EXPECT_EQ(asked, 0) << "only once the volumes were looked inside";
  rig.dispatcher.drainAll();
  EXPECT_EQ(state() + " " + std::to_string(asked), "A:1 GB B:3 GB 2 1");
  EXPECT_FALSE(engine->lookInsideFirst([&] { ++asked; }));
  mount("C", 4'000'000'000);
  engine->setDetailsShown(true);
  EXPECT_EQ(rig.dispatcher.drainAll(), 2) << "looked inside in the background";
  EXPECT_EQ(state() + " " + std::to_string(asked), "A:1 GB B:3 GB C:4 GB 4 1");
}

} // namespace
