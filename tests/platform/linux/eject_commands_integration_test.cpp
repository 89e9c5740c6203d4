// Eject commands over scripted pieces, and end to end as root on loop images via udisksd.

#include "cli/eject_commands.h"

#include <stdlib.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <regex>
#include <sstream>

#include <gtest/gtest.h>

#include "core/settings.h"
#include "core/localization.h"
#include "core/utf8_text.h"
#include "platform/fake/fake_disk_describer.h"
#include "platform/fake/fake_ejector.h"
#include "platform/fake/fake_process_runner.h"
#include "platform/fake/fake_volume_source.h"
#include "tests/platform/linux/eject_test_volumes.h"
#include "tests/platform/linux/udisks_test_bus.h"
#include "tests/support/run_command.h"
#include "tests/support/temporary_folder.h"

namespace {

using namespace std::string_literals;

// What was given, the exit status, standard output, and a part of standard error.
using Case = std::tuple<std::string, int, std::string, std::string>;

class EjectCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    // A real folder, so that paths relative to the working folder lead to it.
    std::filesystem::create_directories(folder_ / "usb-stick" / "inside");
    ASSERT_EQ(chdir(folder_.path().c_str()), 0);
    source_.setVolumes({{(folder_ / "usb-stick").string(), FakeVolumeSource::external("Stick")},
                        {"/media/ana/Backup", FakeVolumeSource::external("Archive")},
                        {"/media/ana/Archive", FakeVolumeSource::external("Archive")},
                        {"/media/ana/Image", FakeVolumeSource::external("Image")},
                        {"/media/ana/Other", FakeVolumeSource::external("usb-stick")},
                        {"/media/ana/Disk", FakeVolumeSource::external(disk_)}});
    describer_.setDiskImage("/media/ana/Image");
    ejector_.setFailure("/media/ana/Image", "org.freedesktop.UDisks2.Error.DeviceBusy: busy");
    EjectOutcome refused;
    refused.failure = EjectFailure::notAuthorised;
    ejector_.setOutcome("/media/ana/Backup", refused);
    EjectOutcome partial;
    partial.success = true;
    partial.leftUndone = EjectOutcome::LeftUndone::powerOff;
    partial.errorText = "held\nby";
    ejector_.setOutcome("/media/ana/Disk", partial);
    engine_.refresh();
  }

  void expect(int status, const Case& row) {
    const auto& [given, expectedStatus, out, err] = row;
    EXPECT_EQ(status, expectedStatus) << given;
    EXPECT_EQ(out_.str(), out) << given;
    EXPECT_NE(err_.str().find(err), std::string::npos) << given << ": " << err_.str();
    out_.str("");
    err_.str("");
  }

  TemporaryFolder folder_;
  FakeVolumeSource source_;
  FakeDiskDescriber describer_;
  FakeProcessRunner runner_;
  FakeEjector ejector_;
  AuthorisationWatch watch_{ejector_};
  LoopDispatcher dispatcher_;
  SettingsStore store_{folder_ / "defaults.plist"};
  Settings settings_{store_};
  EjectEngine engine_{{source_, describer_, runner_, watch_, dispatcher_, nullptr, "/none", {}},
                      settings_};
  std::ostringstream out_;
  std::ostringstream err_;
  const std::string retained_ = L("eject.retained_message");
  const std::string disk_ = "Disk\u202ekcab"; // printed escaped, as any control character
};

TEST_F(EjectCommands, Eject_FindsTheVolumeByNameOrAnyFormOfItsMountPathOnly) {
  for (const auto& row : std::vector<Case>{
           {(folder_ / "usb-stick/").string(), 0, "ejected Stick\n", ""},
           {"Stick", 0, "ejected Stick\n", ""},
           {"./usb-stick", 0, "ejected Stick\n", ""},
           {"usb-stick", 2, "", "  /media/ana/Other\n  " + (folder_ / "usb-stick").string()},
           {"usb-stick/inside", 2, "", "no external volume"},
           {"stick", 2, "", "no external volume"},
           {"Archive", 2, "", "/media/ana/Backup\n  /media/ana/Archive\n"},
           {"Image", 1, "failed Image: " + retained_ + "\n", ""},
           {"/media/ana/Disk", 3,
            printableText(L("cli.unmounted_partly", disk_, L("eject.partial_power_off", disk_))) +
                "\n",
            "Disk\\u202ekcab: " + L("eject.reason_system", "held\\nby")},
           {"/media/ana/Backup", 1, "failed Archive: " + L("eject.failed_message") + "\n",
            L("cli.no_authentication_agent")}}) {
    expect(ejectVolume(engine_, dispatcher_, std::get<0>(row), {out_, err_, &watch_}), row);
  }
  EXPECT_EQ(ejector_.ejectedPaths().size(), 6u);
}

TEST_F(EjectCommands, EjectAll_FollowsTheSettingsKeepsBackupsAndGoesOnAfterAFailure) {
  settings_.setEjectDiskImages(false);
  source_.setVolumes({{"/media/ana/Image", FakeVolumeSource::external("Image")}});
  engine_.refresh();
  expect(ejectAllVolumes(engine_, dispatcher_, {out_, err_}), {"", 0, "nothing to eject\n", ""});
  settings_.setEjectDiskImages(true);
  source_.addVolume("/media/ana/Stick", FakeVolumeSource::external("Stick"));
  std::filesystem::create_directories(folder_ / "tm/Backups.backupdb"); // protected: stays
  source_.addVolume((folder_ / "tm").string(), FakeVolumeSource::external("Backup"));
  engine_.refresh();
  expect(ejectAllVolumes(engine_, dispatcher_, {out_, err_}),
         {"", 1, "failed Image: " + retained_ + "\nejected Stick\n", ""});
}

// End to end, through the real udisksd: two images, mounted in the opposite order of their names.
class EjectCommandsEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string whyNot;
    if (!privateMounts_.error().empty() ||
        !(services_ = test_bus::PrivateSystemBus::start(whyNot))) {
      GTEST_SKIP() << privateMounts_.error() << whyNot;
    }
    bravo_ = test_volumes::LoopVolume::create(folder_.path(), "VEBRAVO", whyNot);
    alpha_ = bravo_ ? test_volumes::LoopVolume::create(folder_.path(), "VEALPHA", whyNot) : nullptr;
    if (!alpha_) {
      GTEST_SKIP() << whyNot;
    }
    udev_daemon::settle(); // udisksd sees the new devices
  }

  // The built program on the test's bus, through the shell for its redirections.
  test_support::CommandResult runProgram(const std::string& command) {
    return test_support::runCommand(
        {"/bin/sh", "-c", "DBUS_SYSTEM_BUS_ADDRESS='" + services_->address() + "' " + command});
  }

  test_volumes::PrivateMountNamespace privateMounts_;
  TemporaryFolder folder_;
  std::unique_ptr<test_bus::PrivateSystemBus> services_;
  std::unique_ptr<test_volumes::LoopVolume> bravo_;
  std::unique_ptr<test_volumes::LoopVolume> alpha_;
};

TEST_F(EjectCommandsEndToEnd, TheProgram_RefusedUnprivilegedListsInFrenchEjectsByDevice) {
  // Visible to nobody, who may not eject it: polkit refuses when no agent can ask.
  ASSERT_EQ(chmod(folder_.path().c_str(), 0755), 0);
  const std::string eject = "setpriv --reuid=65534 --regid=65534 --clear-groups " VARNELO_CLI_PATH
                            " eject " +
                            alpha_->mountPath().string();
  const auto out = runProgram(eject + " </dev/null 2>/dev/null");
  EXPECT_EQ(out.status, 1);
  EXPECT_EQ(out.output, "failed VEALPHA: " + L("eject.failed_message") + "\n");
  const auto err = runProgram(eject + " </dev/null 2>&1 >/dev/null");
  EXPECT_NE(err.output.find(L("cli.no_authentication_agent")), std::string::npos) << err.output;
  // In a terminal, polkit's text agent asks there (and gets no answer).
  const auto asked = runProgram("timeout 3 script -qec '" + eject + "' /dev/null </dev/null");
  EXPECT_NE(asked.output.find("AUTHENTICATING FOR"), std::string::npos) << asked.output;
  EXPECT_TRUE(alpha_->mounted() && alpha_->attached() &&
              exists(alpha_->mountPath() / alpha_->fileName));

  const auto listing = runProgram("LANGUAGE=fr LC_ALL=fr_FR.UTF-8 " VARNELO_CLI_PATH " list");
  EXPECT_TRUE(std::regex_search(listing.output, std::regex("VEALPHA\t[0-9]+(,[0-9])? Mo\t")))
      << listing.output;
  const auto byDevice = runProgram(VARNELO_CLI_PATH " eject " + alpha_->device());
  EXPECT_EQ(byDevice.output, "ejected VEALPHA\n");
  EXPECT_EQ(byDevice.status, 0);
  EXPECT_TRUE(alpha_->waitUntilDetached() && alpha_->imageIntact());
  EXPECT_TRUE(bravo_->mounted());

  // udisks2 stops answering: the command says what it waits for, and Ctrl-C twice ends it.
  ASSERT_EQ(kill(services_->udisksd(), SIGSTOP), 0);
  const auto stopped = runProgram(VARNELO_CLI_PATH " eject VEBRAVO 2>&1 & sleep 1.5; kill -INT $!; "
                                                   "sleep 0.3; kill -INT $!; wait $!; echo $?");
  kill(services_->udisksd(), SIGCONT);
  for (const auto& said : {L("cli.waiting_udisks"), L("cli.stopping"), L("cli.ended"), "\n1\n"s}) {
    EXPECT_NE(stopped.output.find(said), std::string::npos) << stopped.output;
  }
  EXPECT_TRUE(bravo_->mounted());
}

} // namespace
