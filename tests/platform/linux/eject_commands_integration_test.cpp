// The eject and eject-all commands: over scripted platform pieces, then end to end as root on
// real loop-mounted images, through udisks2 and through the direct unmount.

#include "app/cli/eject_commands.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <regex>
#include <sstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/cli/linux_platform.h"
#include "core/eject_settings.h"
#include "core/localization.h"
#include "platform/fake/fake_disk_describer.h"
#include "platform/fake/fake_ejector.h"
#include "platform/fake/fake_process_runner.h"
#include "platform/fake/fake_volume_source.h"
#include "platform/linux/system_ejector.h"
#include "tests/platform/linux/discovery_test_volumes.h"
#include "tests/platform/linux/eject_test_volumes.h"
#include "tests/platform/linux/udisks_test_bus.h"
#include "tests/support/run_command.h"
#include "tests/support/temporary_folder.h"

namespace {

using test_volumes::BusyHolder;
using test_volumes::LoopVolume;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;

// The settings of this test process only: tests running beside it share the build's home.
void useOwnSettingsFolder() {
  static TemporaryFolder home;
  setenv("XDG_CONFIG_HOME", home.path().c_str(), 1);
}

class EjectCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    useOwnSettingsFolder();
    // Real folders, so that paths relative to the working folder lead to them.
    std::filesystem::create_directories(folder_ / "usb-stick" / "inside");
    stick_ = (folder_ / "usb-stick").string();
    source_.setVolumes({{stick_, FakeVolumeSource::external("Stick")},
                        {"/media/ana/Backup", FakeVolumeSource::external("Archive")},
                        {"/media/ana/Archive", FakeVolumeSource::external("Archive")},
                        {"/media/ana/Image", FakeVolumeSource::external("Image")}});
    describer_.setDiskImage("/media/ana/Image");
    engine_ = std::make_unique<EjectEngine>(EnginePlatform{
        source_, describer_, runner_, watch_, dispatcher_, nullptr, "/nonexistent/tmutil", {}});
  }

  CommandStreams streams() { return {out_, err_, &watch_}; }

  TemporaryFolder folder_;
  std::string stick_;
  FakeVolumeSource source_;
  FakeDiskDescriber describer_;
  FakeProcessRunner runner_;
  FakeEjector ejector_;
  AuthorisationWatch watch_{ejector_};
  LoopDispatcher dispatcher_;
  std::unique_ptr<EjectEngine> engine_;
  std::ostringstream out_;
  std::ostringstream err_;
};

TEST_F(EjectCommands, Eject_FindsTheVolumeByNameOrAnyFormOfItsMountPathOnly) {
  const std::string retained = L("eject.retained_message");
  ejector_.setFailure("/media/ana/Image", "org.freedesktop.UDisks2.Error.DeviceBusy: busy");
  ejector_.setFailure("/media/ana/Backup",
                      "org.freedesktop.UDisks2.Error.NotAuthorizedCanObtain: not authorised");
  struct Case {
    std::string typed;
    int status;
    std::string out;
    std::vector<std::string> ejected;
    std::string err;
  };
  ASSERT_EQ(chdir(folder_.path().c_str()), 0);
  for (const auto& row :
       std::vector<Case>{{stick_ + "/", 0, "ejected Stick\n", {stick_}, ""},
                         {"Stick", 0, "ejected Stick\n", {stick_}, ""},
                         {"usb-stick", 0, "ejected Stick\n", {stick_}, ""},
                         {"./usb-stick/../usb-stick/", 0, "ejected Stick\n", {stick_}, ""},
                         {"usb-stick/inside", 2, "", {}, "no external volume"},
                         {"stick", 2, "", {}, "no external volume"},
                         {"Archive", 2, "", {}, "/media/ana/Backup\n  /media/ana/Archive\n"},
                         {"Image", 1, "failed Image: " + retained + "\n", {"/media/ana/Image"}, ""},
                         {"/media/ana/Backup",
                          1,
                          "failed Archive: " + retained + "\n",
                          {"/media/ana/Backup"},
                          L("cli.no_authentication_agent")}}) {
    out_.str("");
    err_.str("");
    const auto before = ejector_.ejectedPaths().size();
    EXPECT_EQ(ejectVolume(*engine_, dispatcher_, row.typed, streams()), row.status) << row.typed;
    EXPECT_EQ(out_.str(), row.out) << row.typed;
    EXPECT_THAT(err_.str(), HasSubstr(row.err)) << row.typed;
    const auto paths = ejector_.ejectedPaths();
    EXPECT_THAT(std::vector(paths.begin() + static_cast<long>(before), paths.end()),
                ElementsAreArray(row.ejected))
        << row.typed;
  }
}

TEST_F(EjectCommands, EjectAll_FollowsTheDiskImageSettingGoesOnAfterAFailureAndSaysWhy) {
  const std::string retained = L("eject.retained_message");
  struct Case {
    std::vector<FakeVolumeSource::Entry> volumes;
    bool ejectDiskImages;
    int status;
    std::string out;
  };
  const FakeVolumeSource::Entry image{"/media/ana/Image", FakeVolumeSource::external("Image")};
  ejector_.setFailure("/media/ana/Image");
  for (const auto& row :
       std::vector<Case>{{{image}, false, 0, "nothing to eject\n"},
                         {{image, {"/media/ana/Stick", FakeVolumeSource::external("Stick")}},
                          false,
                          0,
                          "ejected Stick\n"},
                         {{image, {"/media/ana/Stick", FakeVolumeSource::external("Stick")}},
                          true,
                          1,
                          "failed Image: " + retained + "\nejected Stick\n"}}) {
    source_.setVolumes(row.volumes);
    engine_->refresh();
    EjectSettings::setEjectDiskImages(row.ejectDiskImages);
    out_.str("");
    EXPECT_EQ(ejectAllVolumes(*engine_, dispatcher_, streams()), row.status) << row.out;
    EXPECT_EQ(out_.str(), row.out);
  }
}

TEST_F(EjectCommands, Results_ExitStatusLineAndReasonOnStandardError) {
  struct Case {
    bool success;
    bool partial;
    std::string detail;
    int status;
    std::string out;
    std::string err;
  };
  for (const auto& row : std::vector<Case>{
           {true, false, "", 0, "ejected Disk\\u202ekcab\n", ""},
           {true, true, "", 3, "unmounted Disk\\u202ekcab: left on\n", ""},
           {false, false, "held by\nvim (1234)", 1, "failed Disk\\u202ekcab: left on\n",
            "varnelo-eject: Disk\\u202ekcab: held by\\nvim (1234)\n"}}) {
    EjectEngine::EjectResult result;
    result.volume.name = "Disk\xe2\x80\xae"
                         "kcab";
    result.success = row.success;
    result.partial = row.partial;
    result.message = row.success && !row.partial ? std::nullopt : std::optional("left on");
    result.detail = row.detail;
    out_.str("");
    err_.str("");
    EXPECT_EQ(reportResult(result, streams()), row.status) << row.out;
    EXPECT_EQ(out_.str(), row.out);
    EXPECT_EQ(err_.str(), row.err);
  }
}

// End to end: two images, mounted in the opposite order of their names.
enum class Route { udisks, direct };

class EjectCommandsEndToEnd : public ::testing::TestWithParam<Route> {
 protected:
  void SetUp() override {
    useOwnSettingsFolder();
    if (!privateMounts_.error().empty()) {
      GTEST_SKIP() << privateMounts_.error();
    }
    // eject-all takes every external volume it sees: others leave our copy of the mount table.
    // A mount point may hold several mounts, one over the other.
    for (int round = 0; round < 8; ++round) {
      LinuxPlatform lister;
      for (const auto& volume : lister.engine().volumes()) {
        umount2(volume.id.c_str(), MNT_DETACH);
      }
    }
    std::string whyNot;
    SystemEjector::Options options;
    if (GetParam() == Route::udisks) {
      services_ = test_bus::UdisksTestServices::start(whyNot);
      if (!services_) {
        GTEST_SKIP() << "needs the real udisksd: " << whyNot;
      }
      options.udisks.busAddress = services_->busAddress();
      options.isRoot = [] { return false; };
    } else {
      options.udisks.busAddress = "unix:path=" + (folder_ / "no-bus").string();
    }
    busAddress_ = options.udisks.busAddress;
    bravo_ = LoopVolume::create(folder_.path(), "VEBRAVO", whyNot);
    alpha_ = bravo_ ? LoopVolume::create(folder_.path(), "VEALPHA", whyNot) : nullptr;
    if (!alpha_) {
      GTEST_SKIP() << whyNot;
    }
    if (services_) {
      test_bus::UdisksTestServices::settle();
    }
    platform_.setEjector(std::make_unique<SystemEjector>(options));
    ASSERT_EQ(platform_.engine().volumes().size(), 2u);
  }

  int ejectAll() {
    return ejectAllVolumes(platform_.engine(), platform_.dispatcher(), {out_, std::cerr});
  }

  // The built program on the same bus and settings; "2>&1 >/dev/null" keeps standard error.
  test_support::CommandResult runProgram(const std::string& command) {
    return test_support::runCommand(
        {"/bin/sh", "-c",
         "DBUS_SYSTEM_BUS_ADDRESS='" + busAddress_ + "' " + command + " </dev/null"});
  }

  discovery_test::PrivateMountNamespace privateMounts_;
  TemporaryFolder folder_;
  std::string busAddress_;
  std::unique_ptr<test_bus::UdisksTestServices> services_;
  std::unique_ptr<LoopVolume> bravo_;
  std::unique_ptr<LoopVolume> alpha_;
  LinuxPlatform platform_;
  std::ostringstream out_;
};

TEST_P(EjectCommandsEndToEnd, EjectAll_EjectsInNameOrderAndABusyVolumeStaysWhole) {
  EjectSettings::setEjectDiskImages(true);
  {
    BusyHolder holder(alpha_->mountPath(), BusyHolder::How::workingFolder);
    EXPECT_EQ(ejectAll(), 1);
    EXPECT_EQ(out_.str(), "failed VEALPHA: " + L("eject.retained_message") + "\nejected VEBRAVO\n");
    EXPECT_TRUE(alpha_->mounted() && alpha_->attached() && alpha_->fileReadable());
    EXPECT_TRUE(bravo_->waitUntilDetached());
    EXPECT_TRUE(bravo_->imageIntact());
  }
  out_.str("");
  EXPECT_EQ(ejectAll(), 0);
  EXPECT_EQ(out_.str(), "ejected VEALPHA\n");
  EXPECT_TRUE(alpha_->waitUntilDetached());
  EXPECT_TRUE(alpha_->imageIntact());
}

TEST_P(EjectCommandsEndToEnd, TheProgram_ListsInFrenchAndEjectsByDeviceNode) {
  const auto listing = runProgram("LANGUAGE=fr LC_ALL=fr_FR.UTF-8 " VARNELO_CLI_PATH " list");
  EXPECT_TRUE(std::regex_search(listing.output, std::regex("VEALPHA\t[0-9]+(,[0-9])? Mo\t")))
      << listing.output;

  const auto run = runProgram(VARNELO_CLI_PATH " eject " + alpha_->device());
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(run.output, "ejected VEALPHA\n");
  EXPECT_TRUE(alpha_->waitUntilDetached());
  EXPECT_TRUE(bravo_->mounted());
}

TEST_P(EjectCommandsEndToEnd, TheProgram_AsUnprivilegedUser_FailsSaysWhyAndTouchesNothing) {
  // The volume must be visible to nobody, or the program would not even find it.
  ASSERT_EQ(chmod(folder_.path().c_str(), 0755), 0);
  const std::string asNobody = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
  const std::string eject = VARNELO_CLI_PATH " eject " + alpha_->mountPath().string();

  const auto out = runProgram(asNobody + eject + " 2>/dev/null");
  EXPECT_EQ(out.status, 1);
  EXPECT_EQ(out.output, "failed VEALPHA: " + L("eject.retained_message") + "\n");
  // Only udisks2 asks polkit, which refuses when nobody can be asked for a password.
  const auto err = runProgram(asNobody + eject + " 2>&1 >/dev/null");
  EXPECT_EQ(err.output.find(L("cli.no_authentication_agent")) != std::string::npos,
            GetParam() == Route::udisks)
      << err.output;
  EXPECT_TRUE(alpha_->mounted() && alpha_->attached() && alpha_->fileReadable());
}

INSTANTIATE_TEST_SUITE_P(Routes, EjectCommandsEndToEnd,
                         ::testing::Values(Route::udisks, Route::direct), [](const auto& info) {
                           return info.param == Route::udisks ? "ThroughUdisks" : "Direct";
                         });

} // namespace
