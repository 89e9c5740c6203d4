#include <filesystem>
#include <fstream>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/byte_count_format.h"
#include "platform/linux/posix_process_runner.h"
#include "tests/core/eject_engine_rig.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

namespace {

VolumeResources resources(std::optional<bool> internal, std::optional<bool> removable,
                          std::optional<bool> ejectable) {
  VolumeResources values;
  values.volumeName = "Volume";
  values.isInternal = internal;
  values.isRemovable = removable;
  values.isEjectable = ejectable;
  values.totalCapacity = 1'000'000;
  return values;
}

const std::vector<std::string> destinationInfo{"destinationinfo", "-X"};

class EjectEngineDiscovery : public ::testing::Test {
 protected:
  EngineRig rig;
};

// --- Which volumes are listed ---

TEST_F(EjectEngineDiscovery, Filter_ListsVolumesThatAreNotInternalAndAreRemovableOrEjectable) {
  struct Row {
    std::string id;
    std::optional<VolumeResources> values;
    bool listed;
  };
  const Row rows[] = {
      {"/media/ejectable-internal-missing", resources(std::nullopt, std::nullopt, true), true},
      {"/media/removable-not-ejectable", resources(false, true, false), true},
      {"/media/internal-but-ejectable", resources(true, true, true), false},
      {"/media/both-false", resources(false, false, false), false},
      {"/media/both-missing", resources(false, std::nullopt, std::nullopt), false},
      {"/media/nothing-known", resources(std::nullopt, std::nullopt, std::nullopt), false},
      {"/media/unreadable", std::nullopt, false}};
  std::vector<std::string> expected;
  for (const Row& row : rows) {
    rig.source.addVolume(row.id, row.values);
    if (row.listed) {
      expected.push_back(row.id);
    }
  }
  EXPECT_EQ(idsOf(rig.makeEngine()->volumes()), expected);
}

// --- Names, sizes and identity ---

TEST_F(EjectEngineDiscovery, Naming_IdIsTheMountPathNameTheBestKnownAndSizeOnlyWhenPositive) {
  auto both = resources(false, true, true);
  both.localizedName = "Localised";
  both.volumeName = "Raw";
  both.totalCapacity = 0;
  auto rawOnly = resources(false, true, true);
  rawOnly.volumeName = "Raw only";
  rawOnly.totalCapacity = -5;
  auto none = resources(false, true, true);
  none.volumeName.reset();
  none.totalCapacity.reset();
  rig.source.setVolumes({{"/media/me/one", both},
                         {"/media/me/two", rawOnly},
                         {"/media/me/NO NAME", none},
                         {"/media/me/trailing///", none},
                         {"/", none},
                         {"/media/big", FakeVolumeSource::external("Big", 15'980'000'000)}});
  std::map<std::string, std::string> nameById;
  for (const auto& volume : rig.makeEngine()->listExternalVolumes()) {
    nameById[volume.id] = volume.name;
    EXPECT_EQ(volume.url, std::filesystem::path(volume.id));
    EXPECT_EQ(volume.sizeText, volume.id == "/media/big" ? formatByteCount(15'980'000'000) : "")
        << volume.id;
  }
  EXPECT_EQ(nameById, (std::map<std::string, std::string>{{"/media/me/one", "Localised"},
                                                          {"/media/me/two", "Raw only"},
                                                          {"/media/me/NO NAME", "NO NAME"},
                                                          {"/media/me/trailing///", "trailing"},
                                                          {"/", "/"},
                                                          {"/media/big", "Big"}}));
  EXPECT_NE(formatByteCount(15'980'000'000), "");
}

// --- Order ---

TEST_F(EjectEngineDiscovery, Sorting_IgnoresCaseKeepsAccentsByTheirLetterAndOrderForEqualNames) {
  rig.source.setVolumes({{"/media/1", FakeVolumeSource::external("beta")},
                         {"/media/2", FakeVolumeSource::external("Alpha")},
                         {"/media/3", FakeVolumeSource::external("alpha")},
                         {"/media/4", FakeVolumeSource::external("ALPHA")}});
  for (const char* locale : {"", "C.UTF-8", "en_US.UTF-8", "fr_FR.UTF-8@euro", "xx_INVALID"}) {
    rig.environment["LC_ALL"] = locale;
    EXPECT_THAT(idsOf(rig.makeEngine()->volumes()),
                ElementsAre("/media/2", "/media/3", "/media/4", "/media/1"))
        << "locale " << locale;
  }
  rig.environment.erase("LC_ALL");
  rig.source.setVolumes({{"/media/1", FakeVolumeSource::external("alpha")},
                         {"/media/2", FakeVolumeSource::external("Alpha")},
                         {"/media/3", FakeVolumeSource::external("ALPHA")}});
  EXPECT_THAT(idsOf(rig.makeEngine()->volumes()), ElementsAre("/media/1", "/media/2", "/media/3"));

  rig.source.setVolumes({{"/media/1", FakeVolumeSource::external("zèbre")},
                         {"/media/2", FakeVolumeSource::external("Éclair")},
                         {"/media/3", FakeVolumeSource::external("apple")},
                         {"/media/4", FakeVolumeSource::external("Eclair")}});
  EXPECT_THAT(namesOf(rig.makeEngine()->volumes()),
              ElementsAre("apple", "Eclair", "Éclair", "zèbre"));
}

// --- Time Machine ---

TEST_F(EjectEngineDiscovery, TimeMachine_MarksExactlyTheMountPointsTheRealToolReports) {
  PosixProcessRunner posix;
  rig.processRunner = &posix;
  rig.writeTool("#!/bin/sh\n[ \"$*\" = 'destinationinfo -X' ] || exit 2\necho noise >&2\ncat '" +
                std::string(VARNELO_TEST_FIXTURES) + "/tmutil/destinationinfo.xml'\n");
  rig.source.setVolumes({{"/Volumes/Archive 2019", FakeVolumeSource::external("Archive")},
                         {"/Volumes/Sauvegarde", FakeVolumeSource::external("Other")},
                         {"/Volumes/Sauvegarde Mac", FakeVolumeSource::external("Sauvegarde")}});
  auto engine = rig.makeEngine();
  const auto volumes = engine->volumes();
  ASSERT_THAT(idsOf(volumes), ElementsAre("/Volumes/Archive 2019", "/Volumes/Sauvegarde",
                                          "/Volumes/Sauvegarde Mac"));
  EXPECT_TRUE(volumes[0].isTimeMachine);
  EXPECT_FALSE(volumes[1].isTimeMachine);
  EXPECT_TRUE(volumes[2].isTimeMachine);
  EXPECT_THAT(engine->timeMachineMountPoints(),
              UnorderedElementsAre("/Volumes/Sauvegarde Mac", "/Volumes/Archive 2019"));
}

TEST_F(EjectEngineDiscovery, TimeMachine_ConfiguredToolRunsOncePerPassOnlyWhenVolumesAreListed) {
  auto engine = rig.makeEngine(); // an empty mount table
  for (int index = 0; index < 4; ++index) {
    rig.source.addVolume("/media/" + std::to_string(index), FakeVolumeSource::external("V"));
  }
  rig.source.setListFails(true);
  engine->refresh();
  EXPECT_THAT(engine->volumes(), IsEmpty()) << "an unreadable mount table lists nothing";
  EXPECT_EQ(rig.source.listCalls(), 2);
  EXPECT_EQ(rig.runner.runCount(), 0);

  rig.source.setListFails(false);
  engine->refresh();
  EXPECT_EQ(rig.runner.runCount(), 1);
  engine->refresh();
  EXPECT_EQ(rig.runner.runCount(), 2);
  const auto runs = rig.runner.runs();
  EXPECT_EQ(runs[0].executable, rig.toolPath.string());
  EXPECT_EQ(runs[0].arguments, destinationInfo);
}

TEST_F(EjectEngineDiscovery, TimeMachine_ToolIsNeverRunSandboxedMissingNotExecutableOrAFolder) {
  rig.runner.setOutput(destinationInfo, readFixture("tmutil/destinationinfo.xml"));
  rig.runner.setOutput({"status"}, "Running = 1");
  rig.source.addVolume("/Volumes/Sauvegarde Mac", FakeVolumeSource::external("S"));
  rig.environment["APP_SANDBOX_CONTAINER_ID"] = "";
  auto engine = rig.makeEngine();
  EXPECT_TRUE(engine->isSandboxed());
  EXPECT_FALSE(engine->volumes()[0].isTimeMachine);
  EXPECT_EQ(engine->backupIsRunning(), std::nullopt);
  rig.environment.clear();
  rig.writeTool("#!/bin/sh\n", 0644);
  rig.makeEngine();
  rig.toolPath = rig.tools / "absent";
  rig.makeEngine();
  std::filesystem::create_directory(rig.tools / "folder");
  rig.toolPath = rig.tools / "folder";
  rig.makeEngine();
  EXPECT_EQ(rig.runner.runCount(), 0);
}

TEST_F(EjectEngineDiscovery, TimeMachine_UnusableOrAbsentToolOutputGivesNoMountPoints) {
  const std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n";
  const std::string destinations = head + "<dict><key>Destinations</key><array>";
  const std::pair<const char*, std::string> outputs[] = {
      {"empty", ""},
      {"plain text", "garbage that is no property list"},
      {"truncated XML", "<plist version=\"1.0\"><dict><key>"},
      {"UTF-16 bytes", std::string("\xff\xfe\x00<\x00p\x00l", 8)},
      // One mount point that is not UTF-8 makes the whole output unusable.
      {"not UTF-8", destinations + "<dict><key>MountPoint</key><string>/Volumes/\xc3\x28</string>"
                                   "</dict></array></dict></plist>"},
      {"binary header only", std::string("bplist00\xd1\x01\x02", 11)},
      {"top-level array",
       head + "<array><dict><key>MountPoint</key><string>/V</string></dict></array></plist>"},
      {"destinations not a list", head + "<dict><key>Destinations</key><dict/></dict></plist>"},
      {"no destinations", head + "<dict><key>Other</key><array/></dict></plist>"},
      {"destination not a dictionary",
       destinations + "<dict><key>MountPoint</key><string>/V</string></dict><string>odd</string>"
                      "</array></dict></plist>"},
      {"mount point not text or empty",
       destinations + "<dict><key>MountPoint</key><integer>7</integer></dict><dict>"
                      "<key>MountPoint</key><string></string></dict></array></dict></plist>"},
      {"recorded with no destination", readFixture("tmutil/destinationinfo-none.xml")}};
  for (const auto& [label, bytes] : outputs) {
    rig.runner.setOutput(destinationInfo, bytes);
    EXPECT_THAT(rig.makeEngine()->timeMachineMountPoints(), IsEmpty()) << label;
  }
  rig.runner.setOutput(destinationInfo, readFixture("tmutil/destinationinfo.xml"));
  rig.runner.setFailsToStart(true);
  EXPECT_THAT(rig.makeEngine()->timeMachineMountPoints(), IsEmpty()) << "tool cannot start";
}

TEST_F(EjectEngineDiscovery, TimeMachine_BackupFolderAtTheRootMarksVolumeWithoutTheTool) {
  TemporaryFolder parent;
  const std::string odd = "my \"disk\" 100% {x}\nline"; // named and searched all the same
  std::filesystem::create_directories(parent / odd / "Backups.backupdb");
  TemporaryFolder bundle;
  std::ofstream(bundle / "notes.txt") << "x";
  std::filesystem::create_directory(bundle / "My Mac.backupbundle");
  rig.toolPath = rig.tools / "absent";
  rig.environment["APP_SANDBOX_CONTAINER_ID"] = "container"; // the bundle counts even then
  auto unnamed = resources(false, true, true);
  unnamed.volumeName.reset();
  rig.source.setVolumes({{(parent / odd).string(), unnamed},
                         {bundle.path().string(), FakeVolumeSource::external("Bundle")}});
  const auto volumes = rig.makeEngine()->volumes();
  ASSERT_THAT(namesOf(volumes), ElementsAre("Bundle", odd));
  EXPECT_TRUE(volumes[0].isTimeMachine);
  EXPECT_TRUE(volumes[1].isTimeMachine);
}

TEST_F(EjectEngineDiscovery, TimeMachine_OnlyExactNamesAtTheRootOfAListableFolderCount) {
  auto engine = rig.makeEngine();
  TemporaryFolder plainFile;
  std::ofstream(plainFile / "Backups.backupdb") << "anything named like the database counts";
  EXPECT_TRUE(engine->isTimeMachine(plainFile.path().string(), {}));

  TemporaryFolder root;
  std::filesystem::create_directory(root / "My Mac.BACKUPBUNDLE");
  std::filesystem::create_directories(root / "deeper" / "Old.backupbundle");
  std::filesystem::create_directories(root / "deeper" / "Backups.backupdb");
  std::ofstream(root / "Backups.backupdb.txt") << "x";
  EXPECT_FALSE(engine->isTimeMachine(root.path().string(), {}));

  EXPECT_FALSE(engine->isTimeMachine((rig.tools / "no such volume").string(), {}));
  EXPECT_FALSE(engine->isTimeMachine(rig.toolPath.string(), {})); // a file, not a folder
  EXPECT_TRUE(engine->isTimeMachine("/no/such/volume", {"/no/such/volume"}));
  EXPECT_FALSE(engine->isTimeMachine("/no/such/volume", {"/no/such/volume/"}));
}

// --- Disk images ---

TEST_F(EjectEngineDiscovery, DiskImage_RecognisedByModelOrByProtocolExactlyAndListedSo) {
  rig.describer.setDescription("/media/model", {"Disk Image", "USB"});
  rig.describer.setDescription("/media/protocol", {"Some Model", "Virtual Interface"});
  rig.describer.setDescription("/media/lower", {"disk image", "virtual interface"});
  rig.describer.setDescription("/media/usb", {"SanDisk Ultra", "USB"});
  rig.describer.setDescription("/media/empty", {std::nullopt, std::nullopt});
  rig.source.setVolumes({{"/media/model", FakeVolumeSource::external("Image")},
                         {"/media/usb", FakeVolumeSource::external("Stick")}});
  auto engine = rig.makeEngine();
  EXPECT_TRUE(engine->isDiskImage("/media/model"));
  EXPECT_TRUE(engine->isDiskImage("/media/protocol"));
  EXPECT_FALSE(engine->isDiskImage("/media/lower"));
  EXPECT_FALSE(engine->isDiskImage("/media/usb"));
  EXPECT_FALSE(engine->isDiskImage("/media/empty"));
  EXPECT_FALSE(engine->isDiskImage("/media/undescribed"));
  const auto volumes = engine->volumes();
  ASSERT_EQ(volumes.size(), 2u);
  EXPECT_TRUE(volumes[0].isDiskImage);
  EXPECT_FALSE(volumes[1].isDiskImage);
}

// --- Rebuilding on change ---

TEST_F(EjectEngineDiscovery, Change_EachNotificationRebuildsOnceThenCallsOnTheMainQueueOnly) {
  rig.source.addVolume("/media/a", FakeVolumeSource::external("A"));
  auto engine = rig.makeEngine();
  EXPECT_EQ(rig.source.listCalls(), 1);
  EXPECT_EQ(rig.monitor.startCount(), 1);
  EXPECT_TRUE(rig.monitor.isRunning());
  EXPECT_EQ(rig.dispatcher.pendingMain(), 0u) << "construction calls nothing";
  EXPECT_THAT(idsOf(engine->volumes()), ElementsAre("/media/a"));
  int changes = 0;
  std::thread::id changedOn;
  engine->setOnChange([&] {
    ++changes;
    changedOn = std::this_thread::get_id();
  });
  rig.source.addVolume("/media/new", FakeVolumeSource::external("New"));
  engine->refresh(); // rebuilds without calling
  rig.dispatcher.drainAll();
  EXPECT_THAT(idsOf(engine->volumes()), ElementsAre("/media/a", "/media/new"));
  EXPECT_EQ(changes, 0);

  rig.source.removeVolume("/media/a");
  std::thread([this] { rig.monitor.fire(); }).join(); // from another thread
  EXPECT_EQ(changes, 0);                              // not before the main queue runs
  EXPECT_EQ(rig.source.listCalls(), 2);
  EXPECT_EQ(rig.dispatcher.drainMain(), 1);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(changedOn, std::this_thread::get_id());
  EXPECT_EQ(rig.source.listCalls(), 3);
  EXPECT_THAT(idsOf(engine->volumes()), ElementsAre("/media/new"));

  // Not coalesced, and called even when nothing changed.
  rig.monitor.fire();
  rig.monitor.fire();
  rig.monitor.fire();
  rig.dispatcher.drainMain();
  EXPECT_EQ(changes, 4);
  EXPECT_EQ(rig.source.listCalls(), 6);
}

// --- Names that are awkward to carry around ---

TEST_F(EjectEngineDiscovery, OddNames_AreKeptByteForByteAndNonUtf8OnesSortWithoutHarm) {
  const std::vector<std::string> names{"with  spaces ",
                                       "quote \"double\" 'single'",
                                       "100% %s %n",
                                       "{} {0} {:>10}",
                                       "line\nbreak",
                                       std::string("bad\xff\xfe utf8"),
                                       std::string("nul\0inside", 10),
                                       "ünïcödé 🙂",
                                       std::string("\xc3\x28"),
                                       "zulu",
                                       "alpha"};
  std::vector<FakeVolumeSource::Entry> entries;
  for (std::size_t index = 0; index < names.size(); ++index) {
    entries.push_back(
        {"/media/" + std::to_string(index), FakeVolumeSource::external(names[index])});
  }
  rig.source.setVolumes(entries);
  const auto listed = namesOf(rig.makeEngine()->volumes());
  EXPECT_THAT(listed, ::testing::UnorderedElementsAreArray(names));
  // Names that are not UTF-8 sort without disturbing the others.
  const auto alpha = std::find(listed.begin(), listed.end(), "alpha");
  EXPECT_LT(alpha, std::find(listed.begin(), listed.end(), "zulu"));
  EXPECT_NE(alpha, listed.end());
}

} // namespace
