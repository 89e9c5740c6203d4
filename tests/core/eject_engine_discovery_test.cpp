#include <filesystem>
#include <fstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/linux/posix_process_runner.h"
#include "tests/core/eject_engine_rig.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

VolumeResources resources(std::optional<bool> internal, std::optional<bool> removable,
                          std::optional<bool> ejectable, std::string device = "") {
  VolumeResources values;
  values.isInternal = internal;
  values.isRemovable = removable;
  values.isEjectable = ejectable;
  values.totalCapacity = 15'980'000'000;
  if (!device.empty()) {
    values.device = device;
  }
  return values;
}

const std::vector<std::string> destinationInfo{"destinationinfo", "-X"};

class EjectEngineDiscovery : public ::testing::Test {
 protected:
  EngineRig rig;
};

TEST_F(EjectEngineDiscovery, Listing_FiltersNamesSizesAndListsEachDeviceOnceByItsShortestPath) {
  auto named = resources(false, true, true, "/dev/sdb1");
  named.localizedName = "Localised";
  named.volumeName = "Raw";
  auto empty = resources(std::nullopt, std::nullopt, true);
  empty.totalCapacity = 0;
  rig.source.setVolumes({{"/media/me/long/second/path", named},
                         {"/media/internal", resources(true, true, true)},
                         {"/media/both-false", resources(false, false, false)},
                         {"/media/nothing-known", resources(std::nullopt, std::nullopt, {})},
                         {"/media/unreadable", std::nullopt},
                         {"/media/me/trailing///", empty},
                         {"/media/removable", resources(false, true, false, "/dev/sdc1")},
                         {"/media/stick", named}});
  const auto volumes = rig.makeEngine()->volumes();
  ASSERT_THAT(idsOf(volumes),
              ElementsAre("/media/stick", "/media/removable", "/media/me/trailing///"));
  EXPECT_THAT(namesOf(volumes), ElementsAre("Localised", "removable", "trailing"));
  EXPECT_THAT(volumes[0].mountPaths, ElementsAre("/media/stick", "/media/me/long/second/path"));
  EXPECT_EQ(volumes[0].device, "/dev/sdb1");
  EXPECT_EQ(volumes[0].url, std::filesystem::path("/media/stick"));
  EXPECT_EQ(volumes[0].sizeText, "15.98 GB");
  EXPECT_THAT(volumes[2].mountPaths, ElementsAre("/media/me/trailing///"));
  EXPECT_EQ(volumes[2].sizeText, "");
}

TEST_F(EjectEngineDiscovery, Sorting_IgnoresCaseKeepsAccentsByTheirLetterAndOrderForEqualNames) {
  rig.source.setVolumes({{"/media/1", FakeVolumeSource::external("beta")},
                         {"/media/2", FakeVolumeSource::external("Alpha")},
                         {"/media/3", FakeVolumeSource::external("alpha")},
                         {"/media/4", FakeVolumeSource::external("Éclair")},
                         {"/media/5", FakeVolumeSource::external(std::string("\xc3\x28"))},
                         {"/media/6", FakeVolumeSource::external("Eclair")}});
  for (const char* locale : {"", "C.UTF-8", "fr_FR.UTF-8@euro", "xx_INVALID"}) {
    rig.environment["LC_ALL"] = locale;
    const auto names = namesOf(rig.makeEngine()->volumes());
    EXPECT_THAT(std::vector(names.begin(), names.begin() + 5),
                ElementsAre("Alpha", "alpha", "beta", "Eclair", "Éclair"))
        << "locale " << locale;
  }
}

TEST_F(EjectEngineDiscovery, TimeMachine_MarksExactlyTheMountPointsTheRealToolReportsOncePerPass) {
  PosixProcessRunner posix;
  rig.processRunner = &posix;
  rig.writeTool("#!/bin/sh\n[ \"$*\" = 'destinationinfo -X' ] || exit 2\necho noise >&2\ncat '" +
                std::string(VARNELO_TEST_FIXTURES) + "/tmutil/destinationinfo.xml'\n");
  rig.source.setVolumes({{"/Volumes/Archive 2019", FakeVolumeSource::external("Archive")},
                         {"/Volumes/Sauvegarde", FakeVolumeSource::external("Other")},
                         {"/Volumes/Sauvegarde Mac", FakeVolumeSource::external("Sauvegarde")}});
  const auto volumes = rig.makeEngine()->volumes();
  ASSERT_EQ(volumes.size(), 3u);
  EXPECT_TRUE(volumes[0].isTimeMachine);
  EXPECT_FALSE(volumes[1].isTimeMachine);
  EXPECT_TRUE(volumes[2].isTimeMachine);

  rig.processRunner = nullptr;
  auto engine = rig.makeEngine();
  rig.source.setListFails(true);
  engine->refresh();
  EXPECT_THAT(engine->volumes(), IsEmpty());
  rig.source.setListFails(false);
  engine->refresh();
  EXPECT_EQ(rig.runner.runCount(destinationInfo), 2)
      << "once per pass with volumes, never per volume";
}

TEST_F(EjectEngineDiscovery, TimeMachine_ToolIsNeverRunSandboxedMissingNotExecutableOrAFolder) {
  rig.runner.setOutput({"status"}, "Running = 1");
  rig.source.addVolume("/Volumes/Sauvegarde Mac", FakeVolumeSource::external("S"));
  rig.environment["APP_SANDBOX_CONTAINER_ID"] = "";
  EXPECT_EQ(rig.makeEngine()->backupIsRunning(), std::nullopt);
  rig.environment.clear();
  rig.writeTool("#!/bin/sh\n", 0644);
  rig.makeEngine();
  rig.toolPath = rig.tools / "absent";
  rig.makeEngine();
  rig.toolPath = rig.tools.path();
  rig.makeEngine();
  EXPECT_EQ(rig.runner.runCount(), 0);
}

TEST_F(EjectEngineDiscovery, TimeMachine_UnusableToolOutputGivesNoMountPoints) {
  const std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n";
  const std::string list = head + "<dict><key>Destinations</key><array>";
  const std::string outputs[] = {
      "",
      "garbage",
      "<plist version=\"1.0\"><dict><key>",
      std::string("bplist00\xd1\x01\x02", 11),
      list + "<dict><key>MountPoint</key><string>/V\xc3\x28</string></dict></array></dict></plist>",
      head + "<array><dict><key>MountPoint</key><string>/V</string></dict></array></plist>",
      head + "<dict><key>Destinations</key><dict/></dict></plist>",
      list + "<dict><key>MountPoint</key><string>/V</string></dict><string>x</string></array>"
             "</dict></plist>",
      list + "<dict><key>MountPoint</key><integer>7</integer></dict></array></dict></plist>",
      readFixture("tmutil/destinationinfo-none.xml")};
  for (const auto& output : outputs) {
    rig.runner.setOutput(destinationInfo, output);
    EXPECT_THAT(rig.makeEngine()->timeMachineMountPoints(), IsEmpty()) << output;
  }
}

// Marks of backup tools, at the root or one folder down; near misses mark nothing.
TEST_F(EjectEngineDiscovery, Backup_MarkersOfMacAndLinuxToolsAtTheRootOrOneFolderDown) {
  struct Row {
    std::vector<std::string> folders;
    std::vector<std::pair<std::string, std::string>> files;
    bool backup;
  };
  const Row rows[] = {
      {{"Backups.backupdb"}, {}, true},
      {{"My Mac.backupbundle"}, {}, true},
      {{"My Mac.BACKUPBUNDLE", "deeper/Old.backupbundle"}, {}, false},
      {{}, {{"duplicity-full.20260101T101010Z.manifest.gpg", ""}}, true},
      {{"deja-dup"}, {{"deja-dup/duplicity-full-signatures.20260101T101010Z.sigtar.gz", ""}}, true},
      {{"a/b"}, {{"a/b/duplicity-full.20260101T101010Z.manifest", ""}}, false},
      {{"timeshift/snapshots"}, {}, true},
      {{"timeshift"}, {}, false},
      {{"borg"},
       {{"borg/README", "This is a Borg Backup repository.\n"},
        {"borg/config", "[repository]\nversion = 1\n"}},
       true},
      {{}, {{"README", "x"}, {"config", "[core]\n"}}, false},
      {{"restic/data", "restic/index", "restic/keys", "restic/snapshots"},
       {{"restic/config", ""}},
       true},
      {{"data", "index", "keys"}, {{"config", ""}}, false}};
  auto engine = rig.makeEngine();
  for (const Row& row : rows) {
    TemporaryFolder root;
    for (const auto& folder : row.folders) {
      std::filesystem::create_directories(root / folder);
    }
    for (const auto& [file, content] : row.files) {
      std::ofstream(root / file) << content;
    }
    EXPECT_EQ(engine->isTimeMachine(root.path().string(), {}), row.backup)
        << (row.folders.empty() ? row.files[0].first : row.folders[0]);
  }
  EXPECT_TRUE(engine->isTimeMachine("/no/such/volume", {"/no/such/volume"}));
  EXPECT_FALSE(engine->isTimeMachine("/no/such/volume", {"/no/such/volume/"}));
}

TEST_F(EjectEngineDiscovery, DiskImage_RecognisedByModelOrByProtocolExactly) {
  rig.describer.setDescription("/media/model", {"Disk Image", "USB"});
  rig.describer.setDescription("/media/protocol", {"Some Model", "Virtual Interface"});
  rig.describer.setDescription("/media/lower", {"disk image", "virtual interface"});
  rig.describer.setDescription("/media/usb", {"SanDisk Ultra", "USB"});
  for (const char* path : {"/media/model", "/media/protocol", "/media/lower", "/media/usb"}) {
    rig.source.addVolume(path, FakeVolumeSource::external(path));
  }
  rig.source.addVolume("/media/undescribed", FakeVolumeSource::external("~"));
  std::vector<std::string> images;
  for (const auto& volume : rig.makeEngine()->volumes()) {
    if (volume.isDiskImage) {
      images.push_back(volume.id);
    }
  }
  EXPECT_THAT(images, ElementsAre("/media/model", "/media/protocol"));
}

// Notifications rebuild in the background and apply on the main queue; a burst while a pass is
// queued or running makes one more pass, not one each.
TEST_F(EjectEngineDiscovery, Change_RebuildsOffTheMainQueueAndCoalescesBursts) {
  rig.source.addVolume("/media/a", FakeVolumeSource::external("A"));
  auto engine = rig.makeEngine();
  int changes = 0;
  engine->setOnChange([&] { ++changes; });
  rig.source.addVolume("/media/b", FakeVolumeSource::external("B"));
  rig.monitor.fire();
  rig.monitor.fire();
  rig.monitor.fire();
  EXPECT_EQ(rig.dispatcher.pendingMain(), 0u);
  EXPECT_EQ(rig.dispatcher.drainBackground(), 1);
  EXPECT_EQ(rig.source.listCalls(), 2);
  EXPECT_THAT(idsOf(engine->volumes()), ElementsAre("/media/a")) << "applied on the main queue";
  rig.source.removeVolume("/media/a");
  rig.monitor.fire(); // after the pass, before its list was applied
  rig.dispatcher.drainMain();
  EXPECT_EQ(changes, 1);
  EXPECT_THAT(idsOf(engine->volumes()), ElementsAre("/media/a", "/media/b"));
  rig.dispatcher.drainAll();
  EXPECT_EQ(changes, 2);
  EXPECT_EQ(rig.source.listCalls(), 3);
  EXPECT_THAT(idsOf(engine->volumes()), ElementsAre("/media/b"));
  rig.monitor.fire(); // called even when nothing changed
  rig.dispatcher.drainAll();
  EXPECT_EQ(changes, 3);
}

} // namespace
