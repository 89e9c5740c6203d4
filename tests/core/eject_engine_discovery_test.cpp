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

TEST_F(EjectEngineDiscovery, Filter_ListsEjectableVolumeWhoseInternalFlagIsMissing) {
  rig.source.addVolume("/media/a", resources(std::nullopt, std::nullopt, true));
  EXPECT_THAT(idsOf(rig.makeEngine()->volumes()), ElementsAre("/media/a"));
}

TEST_F(EjectEngineDiscovery, Filter_ListsRemovableVolumeThatIsNotEjectable) {
  rig.source.addVolume("/media/a", resources(false, true, false));
  EXPECT_THAT(idsOf(rig.makeEngine()->volumes()), ElementsAre("/media/a"));
}

TEST_F(EjectEngineDiscovery, Filter_SkipsInternalVolumeEvenWhenEjectable) {
  rig.source.addVolume("/media/a", resources(true, true, true));
  EXPECT_THAT(rig.makeEngine()->volumes(), IsEmpty());
}

TEST_F(EjectEngineDiscovery, Filter_SkipsVolumeNeitherRemovableNorEjectable) {
  rig.source.addVolume("/media/both-false", resources(false, false, false));
  rig.source.addVolume("/media/both-missing", resources(false, std::nullopt, std::nullopt));
  rig.source.addVolume("/media/nothing-known", resources(std::nullopt, std::nullopt, std::nullopt));
  EXPECT_THAT(rig.makeEngine()->volumes(), IsEmpty());
}

TEST_F(EjectEngineDiscovery, Filter_SkipsVolumeWhoseResourcesCannotBeRead) {
  rig.source.addVolume("/media/unreadable", std::nullopt);
  rig.source.addVolume("/media/b", FakeVolumeSource::external("B"));
  EXPECT_THAT(idsOf(rig.makeEngine()->volumes()), ElementsAre("/media/b"));
}

TEST_F(EjectEngineDiscovery, Filter_UnreadableMountTableGivesEmptyListWithoutRunningTheTool) {
  rig.source.addVolume("/media/b", FakeVolumeSource::external("B"));
  rig.source.setListFails(true);
  EXPECT_THAT(rig.makeEngine()->volumes(), IsEmpty());
  EXPECT_EQ(rig.runner.runCount(), 0);
}

// --- Names, sizes and identity ---

TEST_F(EjectEngineDiscovery, Naming_PrefersLocalizedNameThenVolumeNameThenLastPathComponent) {
  auto both = resources(false, true, true);
  both.localizedName = "Localised";
  both.volumeName = "Raw";
  auto rawOnly = resources(false, true, true);
  rawOnly.volumeName = "Raw only";
  auto none = resources(false, true, true);
  none.volumeName.reset();
  rig.source.setVolumes({{"/media/me/one", both},
                         {"/media/me/two", rawOnly},
                         {"/media/me/NO NAME", none},
                         {"/media/me/trailing///", none},
                         {"/", none}});
  const auto volumes = rig.makeEngine()->listExternalVolumes();
  std::map<std::string, std::string> nameById;
  for (const auto& volume : volumes) {
    nameById[volume.id] = volume.name;
  }
  EXPECT_EQ(nameById["/media/me/one"], "Localised");
  EXPECT_EQ(nameById["/media/me/two"], "Raw only");
  EXPECT_EQ(nameById["/media/me/NO NAME"], "NO NAME");
  EXPECT_EQ(nameById["/media/me/trailing///"], "trailing");
  EXPECT_EQ(nameById["/"], "/");
}

TEST_F(EjectEngineDiscovery, Size_IsEmptyForZeroNegativeOrMissingCapacity) {
  auto zero = resources(false, true, true);
  zero.totalCapacity = 0;
  auto negative = resources(false, true, true);
  negative.totalCapacity = -5;
  auto missing = resources(false, true, true);
  missing.totalCapacity.reset();
  rig.source.setVolumes({{"/media/a", zero}, {"/media/b", negative}, {"/media/c", missing}});
  const auto volumes = rig.makeEngine()->volumes();
  ASSERT_EQ(volumes.size(), 3u);
  for (const auto& volume : volumes) {
    EXPECT_EQ(volume.sizeText, "") << volume.id;
  }
}

TEST_F(EjectEngineDiscovery, Size_FormatsPositiveCapacity) {
  rig.source.addVolume("/media/a", FakeVolumeSource::external("A", 15'980'000'000));
  const auto volumes = rig.makeEngine()->volumes();
  ASSERT_EQ(volumes.size(), 1u);
  EXPECT_EQ(volumes[0].sizeText, formatByteCount(15'980'000'000));
  EXPECT_FALSE(volumes[0].sizeText.empty());
}

TEST_F(EjectEngineDiscovery, Identity_IdAndUrlAreTheMountPathAsEnumerated) {
  rig.source.addVolume("/run/media/me/USB DISK/", FakeVolumeSource::external("USB"));
  const auto volumes = rig.makeEngine()->volumes();
  ASSERT_EQ(volumes.size(), 1u);
  EXPECT_EQ(volumes[0].id, "/run/media/me/USB DISK/");
  EXPECT_EQ(volumes[0].url, std::filesystem::path("/run/media/me/USB DISK/"));
}

// --- Order ---

TEST_F(EjectEngineDiscovery, Sorting_IgnoresCaseAndKeepsEnumerationOrderForEqualNames) {
  rig.source.setVolumes({{"/media/1", FakeVolumeSource::external("beta")},
                         {"/media/2", FakeVolumeSource::external("Alpha")},
                         {"/media/3", FakeVolumeSource::external("alpha")}});
  for (const char* locale : {"", "C.UTF-8", "en_US.UTF-8", "fr_FR.UTF-8@euro", "xx_INVALID"}) {
    rig.environment["LC_ALL"] = locale;
    EXPECT_THAT(idsOf(rig.makeEngine()->volumes()), ElementsAre("/media/2", "/media/3", "/media/1"))
        << "locale " << locale;
  }
}

TEST_F(EjectEngineDiscovery, Sorting_EqualNamesInTheOtherEnumerationOrderStayThere) {
  rig.source.setVolumes({{"/media/1", FakeVolumeSource::external("alpha")},
                         {"/media/2", FakeVolumeSource::external("Alpha")},
                         {"/media/3", FakeVolumeSource::external("ALPHA")}});
  EXPECT_THAT(idsOf(rig.makeEngine()->volumes()), ElementsAre("/media/1", "/media/2", "/media/3"));
}

TEST_F(EjectEngineDiscovery, Sorting_PlacesAccentedLettersWithTheirBaseLetter) {
  rig.source.setVolumes({{"/media/1", FakeVolumeSource::external("zèbre")},
                         {"/media/2", FakeVolumeSource::external("Éclair")},
                         {"/media/3", FakeVolumeSource::external("apple")},
                         {"/media/4", FakeVolumeSource::external("Eclair")}});
  EXPECT_THAT(namesOf(rig.makeEngine()->volumes()),
              ElementsAre("apple", "Eclair", "Éclair", "zèbre"));
}

// --- Time Machine ---

TEST_F(EjectEngineDiscovery, TimeMachine_MarksMountPointsTheToolReports) {
  rig.runner.setOutput(destinationInfo, readFixture("tmutil/destinationinfo.xml"));
  rig.source.setVolumes({{"/Volumes/Sauvegarde Mac", FakeVolumeSource::external("Sauvegarde")},
                         {"/Volumes/Sauvegarde", FakeVolumeSource::external("Other")}});
  const auto volumes = rig.makeEngine()->volumes();
  ASSERT_THAT(idsOf(volumes), ElementsAre("/Volumes/Sauvegarde", "/Volumes/Sauvegarde Mac"));
  EXPECT_FALSE(volumes[0].isTimeMachine);
  EXPECT_TRUE(volumes[1].isTimeMachine);
}

TEST_F(EjectEngineDiscovery, TimeMachine_ReadsEveryMountedDestinationOfTheRecordedOutput) {
  rig.runner.setOutput(destinationInfo, readFixture("tmutil/destinationinfo.xml"));
  EXPECT_THAT(rig.makeEngine()->timeMachineMountPoints(),
              UnorderedElementsAre("/Volumes/Sauvegarde Mac", "/Volumes/Archive 2019"));
}

TEST_F(EjectEngineDiscovery, TimeMachine_RealToolsRecordedOutputMarksTheDestination) {
  PosixProcessRunner posix;
  rig.processRunner = &posix;
  rig.writeTool("#!/bin/sh\n[ \"$*\" = 'destinationinfo -X' ] || exit 2\necho noise >&2\ncat '" +
                std::string(VARNELO_TEST_FIXTURES) + "/tmutil/destinationinfo.xml'\n");
  rig.source.setVolumes({{"/Volumes/Archive 2019", FakeVolumeSource::external("Archive")},
                         {"/Volumes/Other", FakeVolumeSource::external("Other")}});
  const auto volumes = rig.makeEngine()->volumes();
  ASSERT_THAT(idsOf(volumes), ElementsAre("/Volumes/Archive 2019", "/Volumes/Other"));
  EXPECT_TRUE(volumes[0].isTimeMachine);
  EXPECT_FALSE(volumes[1].isTimeMachine);
}

TEST_F(EjectEngineDiscovery, TimeMachine_RunsTheConfiguredToolWithDestinationArguments) {
  rig.source.addVolume("/media/a", FakeVolumeSource::external("A"));
  rig.makeEngine();
  const auto runs = rig.runner.runs();
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].executable, rig.toolPath.string());
  EXPECT_EQ(runs[0].arguments, destinationInfo);
}

TEST_F(EjectEngineDiscovery, TimeMachine_ToolRunsOncePerPassWhateverTheNumberOfVolumes) {
  for (int index = 0; index < 4; ++index) {
    rig.source.addVolume("/media/" + std::to_string(index), FakeVolumeSource::external("V"));
  }
  auto engine = rig.makeEngine();
  EXPECT_EQ(rig.runner.runCount(), 1);
  engine->refresh();
  EXPECT_EQ(rig.runner.runCount(), 2);
}

TEST_F(EjectEngineDiscovery, TimeMachine_ToolIsNotRunForAnEmptyOrUnreadableMountTable) {
  auto engine = rig.makeEngine();
  engine->refresh();
  rig.source.setListFails(true);
  engine->refresh();
  EXPECT_EQ(rig.source.listCalls(), 3);
  EXPECT_EQ(rig.runner.runCount(), 0);
}

TEST_F(EjectEngineDiscovery, TimeMachine_SandboxedProcessNeverRunsTheTool) {
  rig.environment["APP_SANDBOX_CONTAINER_ID"] = "";
  rig.runner.setOutput(destinationInfo, readFixture("tmutil/destinationinfo.xml"));
  rig.runner.setOutput({"status"}, "Running = 1");
  rig.source.addVolume("/Volumes/Sauvegarde Mac", FakeVolumeSource::external("S"));
  auto engine = rig.makeEngine();
  EXPECT_TRUE(engine->isSandboxed());
  EXPECT_FALSE(engine->volumes()[0].isTimeMachine);
  EXPECT_EQ(engine->backupIsRunning(), std::nullopt);
  EXPECT_EQ(rig.runner.runCount(), 0);
}

TEST_F(EjectEngineDiscovery, TimeMachine_ToolThatIsMissingNotExecutableOrAFolderIsNeverRun) {
  rig.source.addVolume("/media/a", FakeVolumeSource::external("A"));
  rig.writeTool("#!/bin/sh\n", 0644);
  rig.makeEngine();
  rig.toolPath = rig.tools / "absent";
  rig.makeEngine();
  std::filesystem::create_directory(rig.tools / "folder");
  rig.toolPath = rig.tools / "folder";
  rig.makeEngine();
  EXPECT_EQ(rig.runner.runCount(), 0);
}

TEST_F(EjectEngineDiscovery, TimeMachine_ToolThatCannotStartGivesNoMountPoints) {
  rig.runner.setOutput(destinationInfo, readFixture("tmutil/destinationinfo.xml"));
  rig.runner.setFailsToStart(true);
  EXPECT_THAT(rig.makeEngine()->timeMachineMountPoints(), IsEmpty());
}

struct ToolOutput {
  std::string label;
  std::string bytes;
  friend void PrintTo(const ToolOutput& output, std::ostream* stream) { *stream << output.label; }
};

class EjectEngineToolOutput : public ::testing::TestWithParam<ToolOutput> {
 protected:
  EngineRig rig;
};

TEST_P(EjectEngineToolOutput, UnusableDestinationOutputGivesNoMountPoints) {
  rig.runner.setOutput(destinationInfo, GetParam().bytes);
  auto engine = rig.makeEngine();
  EXPECT_THAT(engine->timeMachineMountPoints(), IsEmpty());
}

const std::string plistHead =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n";

INSTANTIATE_TEST_SUITE_P(
    Garbage, EjectEngineToolOutput,
    ::testing::Values(
        ToolOutput{"Empty", ""}, ToolOutput{"PlainText", "garbage that is no property list"},
        ToolOutput{"TruncatedXml", "<plist version=\"1.0\"><dict><key>"},
        ToolOutput{"Utf16Bytes", std::string("\xff\xfe\x00<\x00p\x00l", 8)},
        // One mount point that is not UTF-8 makes the whole output unusable.
        ToolOutput{"NotUtf8",
                   plistHead + "<dict><key>Destinations</key><array><dict><key>MountPoint</key>"
                               "<string>/Volumes/\xc3\x28</string></dict></array></dict></plist>"},
        ToolOutput{"BinaryHeaderOnly", std::string("bplist00\xd1\x01\x02", 11)},
        ToolOutput{
            "TopLevelArray",
            plistHead +
                "<array><dict><key>MountPoint</key><string>/V</string></dict></array></plist>"},
        ToolOutput{"DestinationsNotAList",
                   plistHead + "<dict><key>Destinations</key><dict/></dict></plist>"},
        ToolOutput{"NoDestinations", plistHead + "<dict><key>Other</key><array/></dict></plist>"},
        ToolOutput{"DestinationNotADictionary",
                   plistHead +
                       "<dict><key>Destinations</key><array><dict><key>MountPoint</key>"
                       "<string>/V</string></dict><string>odd</string></array></dict></plist>"},
        ToolOutput{"MountPointNotTextOrEmpty",
                   plistHead +
                       "<dict><key>Destinations</key><array><dict><key>MountPoint</key>"
                       "<integer>7</integer></dict><dict><key>MountPoint</key><string></string>"
                       "</dict></array></dict></plist>"},
        ToolOutput{"RecordedWithNoDestination", readFixture("tmutil/destinationinfo-none.xml")}),
    [](const ::testing::TestParamInfo<ToolOutput>& info) { return info.param.label; });

TEST_F(EjectEngineDiscovery, TimeMachine_BackupDatabaseAtRootMarksVolumeWithoutTheTool) {
  TemporaryFolder root;
  std::filesystem::create_directory(root / "Backups.backupdb");
  rig.toolPath = rig.tools / "absent";
  rig.source.addVolume(root.path().string(), FakeVolumeSource::external("Backup"));
  const auto volumes = rig.makeEngine()->volumes();
  ASSERT_EQ(volumes.size(), 1u);
  EXPECT_TRUE(volumes[0].isTimeMachine);
}

TEST_F(EjectEngineDiscovery, TimeMachine_AnythingNamedLikeTheBackupDatabaseCounts) {
  TemporaryFolder root;
  std::ofstream(root / "Backups.backupdb") << "a plain file";
  EXPECT_TRUE(rig.makeEngine()->isTimeMachine(root.path().string(), {}));
}

TEST_F(EjectEngineDiscovery, TimeMachine_BackupBundleSuffixMarksVolumeEvenWhenSandboxed) {
  TemporaryFolder root;
  std::ofstream(root / "notes.txt") << "x";
  std::filesystem::create_directory(root / "My Mac.backupbundle");
  rig.environment["APP_SANDBOX_CONTAINER_ID"] = "container";
  rig.source.addVolume(root.path().string(), FakeVolumeSource::external("Bundle"));
  const auto volumes = rig.makeEngine()->volumes();
  ASSERT_EQ(volumes.size(), 1u);
  EXPECT_TRUE(volumes[0].isTimeMachine);
}

TEST_F(EjectEngineDiscovery, TimeMachine_SuffixInCapitalsOrInsideASubfolderDoesNotMark) {
  TemporaryFolder root;
  std::filesystem::create_directory(root / "My Mac.BACKUPBUNDLE");
  std::filesystem::create_directories(root / "deeper" / "Old.backupbundle");
  std::filesystem::create_directories(root / "deeper" / "Backups.backupdb");
  std::ofstream(root / "Backups.backupdb.txt") << "x";
  EXPECT_FALSE(rig.makeEngine()->isTimeMachine(root.path().string(), {}));
}

TEST_F(EjectEngineDiscovery, TimeMachine_UnlistableRootIsNotABackup) {
  auto engine = rig.makeEngine();
  EXPECT_FALSE(engine->isTimeMachine((rig.tools / "no such volume").string(), {}));
  EXPECT_FALSE(engine->isTimeMachine(rig.toolPath.string(), {})); // a file, not a folder
  EXPECT_TRUE(engine->isTimeMachine("/no/such/volume", {"/no/such/volume"}));
  EXPECT_FALSE(engine->isTimeMachine("/no/such/volume", {"/no/such/volume/"}));
}

// --- Disk images ---

TEST_F(EjectEngineDiscovery, DiskImage_RecognisedByModelOrByProtocolExactly) {
  rig.describer.setDescription("/media/model", {"Disk Image", "USB"});
  rig.describer.setDescription("/media/protocol", {"Some Model", "Virtual Interface"});
  rig.describer.setDescription("/media/lower", {"disk image", "virtual interface"});
  rig.describer.setDescription("/media/usb", {"SanDisk Ultra", "USB"});
  rig.describer.setDescription("/media/empty", {std::nullopt, std::nullopt});
  auto engine = rig.makeEngine();
  EXPECT_TRUE(engine->isDiskImage("/media/model"));
  EXPECT_TRUE(engine->isDiskImage("/media/protocol"));
  EXPECT_FALSE(engine->isDiskImage("/media/lower"));
  EXPECT_FALSE(engine->isDiskImage("/media/usb"));
  EXPECT_FALSE(engine->isDiskImage("/media/empty"));
  EXPECT_FALSE(engine->isDiskImage("/media/undescribed"));
}

TEST_F(EjectEngineDiscovery, DiskImage_FlagReachesTheListedVolume) {
  rig.describer.setDiskImage("/media/image");
  rig.source.setVolumes({{"/media/image", FakeVolumeSource::external("Image")},
                         {"/media/stick", FakeVolumeSource::external("Stick")}});
  const auto volumes = rig.makeEngine()->volumes();
  ASSERT_EQ(volumes.size(), 2u);
  EXPECT_TRUE(volumes[0].isDiskImage);
  EXPECT_FALSE(volumes[1].isDiskImage);
}

// --- Rebuilding on change ---

TEST_F(EjectEngineDiscovery, Change_EachNotificationRunsOnePassAndOneCallOnTheMainQueue) {
  auto engine = rig.makeEngine();
  int changes = 0;
  engine->setOnChange([&] { ++changes; });
  EXPECT_TRUE(rig.monitor.isRunning());
  const int passes = rig.source.listCalls();

  rig.source.addVolume("/media/new", FakeVolumeSource::external("New"));
  rig.monitor.fire();
  EXPECT_EQ(changes, 0); // not before the main queue runs
  EXPECT_EQ(rig.source.listCalls(), passes);
  rig.dispatcher.drainMain();
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(rig.source.listCalls(), passes + 1);
  EXPECT_THAT(idsOf(engine->volumes()), ElementsAre("/media/new"));
}

TEST_F(EjectEngineDiscovery, Change_NotificationsAreNotCoalescedAndCallEvenWhenNothingChanged) {
  auto engine = rig.makeEngine();
  int changes = 0;
  engine->setOnChange([&] { ++changes; });
  const int passes = rig.source.listCalls();
  rig.monitor.fire();
  rig.monitor.fire();
  rig.monitor.fire();
  rig.dispatcher.drainMain();
  EXPECT_EQ(changes, 3);
  EXPECT_EQ(rig.source.listCalls(), passes + 3);
  EXPECT_THAT(engine->volumes(), IsEmpty());
}

TEST_F(EjectEngineDiscovery, Change_NotificationFromAnotherThreadIsHandledOnTheMainQueue) {
  auto engine = rig.makeEngine();
  std::thread::id changedOn;
  engine->setOnChange([&] { changedOn = std::this_thread::get_id(); });
  std::thread([this] { rig.monitor.fire(); }).join();
  EXPECT_EQ(rig.dispatcher.drainMain(), 1);
  EXPECT_EQ(changedOn, std::this_thread::get_id());
}

TEST_F(EjectEngineDiscovery, Change_RefreshRebuildsWithoutCallingOnChange) {
  auto engine = rig.makeEngine();
  int changes = 0;
  engine->setOnChange([&] { ++changes; });
  rig.source.addVolume("/media/new", FakeVolumeSource::external("New"));
  engine->refresh();
  rig.dispatcher.drainAll();
  EXPECT_THAT(idsOf(engine->volumes()), ElementsAre("/media/new"));
  EXPECT_EQ(changes, 0);
}

TEST_F(EjectEngineDiscovery, Change_ConstructionRunsOnePassAndNoCallback) {
  rig.source.addVolume("/media/a", FakeVolumeSource::external("A"));
  auto engine = rig.makeEngine();
  EXPECT_EQ(rig.source.listCalls(), 1);
  EXPECT_EQ(rig.monitor.startCount(), 1);
  EXPECT_EQ(rig.dispatcher.pendingMain(), 0u);
  EXPECT_THAT(idsOf(engine->volumes()), ElementsAre("/media/a"));
}

TEST_F(EjectEngineDiscovery, Change_QueuedRebuildDoesNothingOnceTheEngineIsGone) {
  auto engine = rig.makeEngine();
  bool called = false;
  engine->setOnChange([&] { called = true; });
  rig.monitor.fire();
  engine.reset();
  EXPECT_EQ(rig.monitor.stopCount(), 1);
  EXPECT_FALSE(rig.monitor.fire());
  const int passes = rig.source.listCalls();
  rig.dispatcher.drainMain();
  EXPECT_FALSE(called);
  EXPECT_EQ(rig.source.listCalls(), passes);
}

// --- Names that are awkward to carry around ---

TEST_F(EjectEngineDiscovery, OddNames_AreKeptByteForByte) {
  const std::vector<std::string> names{"with  spaces ",
                                       "quote \"double\" 'single'",
                                       "100% %s %n",
                                       "{} {0} {:>10}",
                                       "line\nbreak",
                                       std::string("bad\xff\xfe utf8"),
                                       std::string("nul\0inside", 10),
                                       "ünïcödé 🙂"};
  std::vector<FakeVolumeSource::Entry> entries;
  for (std::size_t index = 0; index < names.size(); ++index) {
    entries.push_back(
        {"/media/" + std::to_string(index), FakeVolumeSource::external(names[index])});
  }
  rig.source.setVolumes(entries);
  const auto listed = namesOf(rig.makeEngine()->volumes());
  EXPECT_THAT(listed, ::testing::UnorderedElementsAreArray(names));
}

TEST_F(EjectEngineDiscovery, OddNames_NonUtf8NamesSortWithoutDisturbingTheOthers) {
  rig.source.setVolumes({{"/media/1", FakeVolumeSource::external("zulu")},
                         {"/media/2", FakeVolumeSource::external(std::string("\xc3\x28"))},
                         {"/media/3", FakeVolumeSource::external("alpha")}});
  const auto names = namesOf(rig.makeEngine()->volumes());
  ASSERT_EQ(names.size(), 3u);
  const auto alpha = std::find(names.begin(), names.end(), "alpha");
  const auto zulu = std::find(names.begin(), names.end(), "zulu");
  EXPECT_LT(alpha, zulu);
}

TEST_F(EjectEngineDiscovery, OddNames_MountPathsWithOddCharactersAreNamedAndSearched) {
  TemporaryFolder parent;
  const std::string odd = "my \"disk\" 100% {x}\nline";
  const auto root = parent / odd;
  std::filesystem::create_directory(root);
  std::filesystem::create_directory(root / "Backups.backupdb");
  auto values = resources(false, true, true);
  values.volumeName.reset();
  rig.source.addVolume(root.string(), values);
  const auto volumes = rig.makeEngine()->volumes();
  ASSERT_EQ(volumes.size(), 1u);
  EXPECT_EQ(volumes[0].name, odd);
  EXPECT_TRUE(volumes[0].isTimeMachine);
}

} // namespace
