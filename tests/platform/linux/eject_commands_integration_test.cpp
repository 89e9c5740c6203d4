// The eject and eject-all commands: over scripted platform pieces, then end to end as root on
// real loop-mounted images, through udisks2 and through the direct unmount.

#include "app/cli/eject_commands.h"

#include <grp.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/cli/command_line.h"
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
#include "tests/support/temporary_folder.h"

namespace {

using test_volumes::BusyHolder;
using test_volumes::LoopVolume;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

// The settings of this test process only: tests running beside it share the build's home.
void useOwnSettingsFolder() {
  static TemporaryFolder home;
  setenv("XDG_CONFIG_HOME", home.path().c_str(), 1);
}

class EjectCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    useOwnSettingsFolder();
    source_.setVolumes({{"/media/ana/Stick", FakeVolumeSource::external("Stick")},
                        {"/media/ana/Backup", FakeVolumeSource::external("Archive")},
                        {"/media/ana/Archive", FakeVolumeSource::external("Archive")},
                        {"/media/ana/Image", FakeVolumeSource::external("Image")}});
    describer_.setDiskImage("/media/ana/Image");
    ejector_.setOnEject([this](const std::string& path) { ejected_.push_back(path); });
  }

  EjectEngine& engine() {
    if (!engine_) {
      engine_ = std::make_unique<EjectEngine>(EnginePlatform{
          source_, describer_, runner_, ejector_, dispatcher_, nullptr, "/nonexistent/tmutil", {}});
    }
    return *engine_;
  }

  int eject(const std::string& nameOrPath) {
    return ejectVolume(engine(), dispatcher_, nameOrPath, out_, err_);
  }

  FakeVolumeSource source_;
  FakeDiskDescriber describer_;
  FakeProcessRunner runner_;
  FakeEjector ejector_;
  LoopDispatcher dispatcher_;
  std::unique_ptr<EjectEngine> engine_;
  std::vector<std::string> ejected_;
  std::ostringstream out_;
  std::ostringstream err_;
};

TEST_F(EjectCommands, Eject_ByMountPath_EjectsThatVolume) {
  EXPECT_EQ(eject("/media/ana/Stick/"), 0);
  EXPECT_EQ(out_.str(), "ejected Stick\n");
  EXPECT_THAT(ejected_, ElementsAre("/media/ana/Stick"));
}

TEST_F(EjectCommands, Eject_ByExactName_EjectsThatVolume) {
  EXPECT_EQ(eject("Image"), 0);
  EXPECT_EQ(out_.str(), "ejected Image\n");
  EXPECT_THAT(ejected_, ElementsAre("/media/ana/Image"));
}

TEST_F(EjectCommands, Eject_NameOfTwoVolumes_ListsThemAndEjectsNothing) {
  EXPECT_EQ(eject("Archive"), 1);
  EXPECT_THAT(err_.str(), HasSubstr("/media/ana/Backup"));
  EXPECT_THAT(err_.str(), HasSubstr("/media/ana/Archive"));
  EXPECT_THAT(ejected_, IsEmpty());
  // The mount path still picks one of them.
  EXPECT_EQ(eject("/media/ana/Backup"), 0);
  EXPECT_THAT(ejected_, ElementsAre("/media/ana/Backup"));
}

TEST_F(EjectCommands, Eject_UnknownVolume_FailsWithoutEjecting) {
  EXPECT_EQ(eject("stick"), 1);
  EXPECT_THAT(err_.str(), HasSubstr("no external volume"));
  EXPECT_THAT(out_.str(), IsEmpty());
  EXPECT_THAT(ejected_, IsEmpty());
}

TEST_F(EjectCommands, Eject_Refused_PrintsTheRetainedMessageNotThePlatformText) {
  ejector_.setFailure("/media/ana/Stick", "org.freedesktop.UDisks2.Error.DeviceBusy: busy");

  EXPECT_EQ(eject("Stick"), 1);
  EXPECT_EQ(out_.str(), "failed Stick: " + L("eject.retained_message") + "\n");
}

TEST_F(EjectCommands, EjectAll_FollowsTheDiskImageSetting) {
  EjectSettings::setEjectDiskImages(false);
  EXPECT_EQ(ejectAllVolumes(engine(), dispatcher_, out_), 0);
  EXPECT_EQ(out_.str(), "ejected Archive\nejected Archive\nejected Stick\n");

  ejected_.clear();
  out_.str("");
  EjectSettings::setEjectDiskImages(true);
  EXPECT_EQ(ejectAllVolumes(engine(), dispatcher_, out_), 0);
  EXPECT_THAT(ejected_, ElementsAre("/media/ana/Backup", "/media/ana/Archive", "/media/ana/Image",
                                    "/media/ana/Stick"));
}

TEST_F(EjectCommands, EjectAll_OnlyExcludedVolumes_SaysNothingToEject) {
  source_.setVolumes({{"/media/ana/Image", FakeVolumeSource::external("Image")}});
  EjectSettings::setEjectDiskImages(false);

  EXPECT_EQ(ejectAllVolumes(engine(), dispatcher_, out_), 0);
  EXPECT_EQ(out_.str(), "nothing to eject\n");
  EXPECT_THAT(ejected_, IsEmpty());
}

TEST_F(EjectCommands, EjectAll_OneFailure_GoesOnAndExitsNonZero) {
  EjectSettings::setEjectDiskImages(true);
  ejector_.setFailure("/media/ana/Image");

  EXPECT_EQ(ejectAllVolumes(engine(), dispatcher_, out_), 1);
  EXPECT_EQ(out_.str(), "ejected Archive\nejected Archive\nfailed Image: " +
                            L("eject.retained_message") + "\nejected Stick\n");
}

// End to end: two images, mounted in the opposite order of their names.
enum class Route { udisks, direct };

void PrintTo(Route route, std::ostream* out) {
  *out << (route == Route::udisks ? "udisks2" : "direct");
}

class EjectCommandsEndToEnd : public ::testing::TestWithParam<Route> {
 protected:
  void SetUp() override {
    useOwnSettingsFolder();
    if (!privateMounts_.error().empty()) {
      GTEST_SKIP() << privateMounts_.error();
    }
    hideOtherVolumes();
    std::string whyNot;
    SystemEjector::Options options;
    if (GetParam() == Route::udisks) {
      services_ = test_bus::UdisksTestServices::start(whyNot);
      if (!services_) {
        GTEST_SKIP() << "needs the real udisksd: " << whyNot;
      }
      options.udisks.busAddress = services_->busAddress();
      // Only udisks2 may do it: no quiet way round it through the direct unmount.
      options.isRoot = [] { return false; };
    } else {
      // No bus at all: root unmounts by itself.
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
    std::vector<std::string> others;
    for (const auto& volume : platform_.engine().volumes()) {
      if (volume.id != alpha_->mountPath() && volume.id != bravo_->mountPath()) {
        others.push_back(volume.id);
      }
    }
    if (!others.empty()) {
      GTEST_SKIP() << "other external volumes are mounted (" << others.front()
                   << "…); eject-all would take them too";
    }
    if (services_) {
      // udisksd reads the mount table on its own schedule.
      ASSERT_TRUE(test_bus::waitUntil([&] {
        return knownToUdisks(alpha_->mountPath()) && knownToUdisks(bravo_->mountPath());
      })) << "udisksd never listed the two images";
    }
  }

  // eject-all takes every external volume it sees. Volumes mounted before this test (another
  // test's, the developer's own disks) are taken away in our private copy of the mount table
  // only; with private propagation their real mounts stay as they are.
  void hideOtherVolumes() {
    LinuxPlatform lister;
    for (const auto& volume : lister.engine().volumes()) {
      umount2(volume.id.c_str(), MNT_DETACH);
    }
  }

  // Whether udisks2 lists a block mounted there, asked without ejecting anything.
  bool knownToUdisks(const std::filesystem::path& mountPath) {
    auto connection = sdbus::createSessionBusConnectionWithAddress(services_->busAddress());
    auto manager =
        sdbus::createProxy(*connection, "org.freedesktop.UDisks2", "/org/freedesktop/UDisks2");
    std::map<sdbus::ObjectPath, std::map<std::string, std::map<std::string, sdbus::Variant>>>
        objects;
    try {
      manager->callMethod("GetManagedObjects")
          .onInterface("org.freedesktop.DBus.ObjectManager")
          .storeResultsTo(objects);
    } catch (const sdbus::Error&) {
      return false;
    }
    for (auto& [path, interfaces] : objects) {
      auto filesystem = interfaces.find("org.freedesktop.UDisks2.Filesystem");
      if (filesystem == interfaces.end() || !filesystem->second.count("MountPoints")) {
        continue;
      }
      for (const auto& bytes :
           filesystem->second["MountPoints"].get<std::vector<std::vector<std::uint8_t>>>()) {
        if (std::string(bytes.begin(), bytes.end()) == mountPath.string() + '\0') {
          return true;
        }
      }
    }
    return false;
  }

  int ejectAll() { return ejectAllVolumes(platform_.engine(), platform_.dispatcher(), out_); }

  struct ProgramRun {
    int status = -1;
    std::string output;
  };

  // The built program, on the same system bus and settings as this test, as root or nobody.
  ProgramRun runProgram(const std::vector<std::string>& arguments, bool asNobody = false) {
    std::vector<std::string> argv{VARNELO_CLI_PATH};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<std::string> environment{"DBUS_SYSTEM_BUS_ADDRESS=" + busAddress_};
    for (char** entry = environ; *entry != nullptr; ++entry) {
      if (std::string(*entry).rfind("DBUS_SYSTEM_BUS_ADDRESS=", 0) != 0) {
        environment.emplace_back(*entry);
      }
    }
    int ends[2];
    ProgramRun run;
    if (pipe2(ends, O_CLOEXEC) != 0) {
      return run;
    }
    const pid_t pid = fork();
    if (pid == 0) {
      dup2(ends[1], STDOUT_FILENO);
      if (asNobody && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)) {
        _exit(126);
      }
      std::vector<char*> args;
      std::vector<char*> envs;
      for (auto& text : argv) {
        args.push_back(text.data());
      }
      for (auto& text : environment) {
        envs.push_back(text.data());
      }
      args.push_back(nullptr);
      envs.push_back(nullptr);
      execve(args[0], args.data(), envs.data());
      _exit(127);
    }
    close(ends[1]);
    char buffer[1024];
    ssize_t count = 0;
    while ((count = read(ends[0], buffer, sizeof buffer)) > 0) {
      run.output.append(buffer, static_cast<std::size_t>(count));
    }
    close(ends[0]);
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status)) {
      run.status = WEXITSTATUS(status);
    }
    return run;
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

TEST_P(EjectCommandsEndToEnd, EjectAll_WithDiskImages_EjectsBothInNameOrder) {
  EjectSettings::setEjectDiskImages(true);

  EXPECT_EQ(ejectAll(), 0);

  EXPECT_EQ(out_.str(), "ejected VEALPHA\nejected VEBRAVO\n");
  for (const auto* volume : {alpha_.get(), bravo_.get()}) {
    EXPECT_FALSE(volume->mounted()) << volume->label();
    EXPECT_TRUE(volume->waitUntilDetached()) << volume->device() << " is still attached";
    EXPECT_TRUE(volume->imageIntact()) << volume->label();
  }
  EXPECT_THAT(platform_.engine().volumes(), IsEmpty());
}

TEST_P(EjectCommandsEndToEnd, EjectAll_WithoutDiskImages_EjectsNothing) {
  EjectSettings::setEjectDiskImages(false);

  EXPECT_EQ(ejectAll(), 0);

  EXPECT_EQ(out_.str(), "nothing to eject\n");
  EXPECT_TRUE(alpha_->mounted());
  EXPECT_TRUE(bravo_->mounted());
}

TEST_P(EjectCommandsEndToEnd, EjectAll_BusyVolume_FailsWhileTheNextIsEjected) {
  EjectSettings::setEjectDiskImages(true);
  BusyHolder holder(alpha_->mountPath(), BusyHolder::How::workingFolder);

  EXPECT_EQ(ejectAll(), 1);

  EXPECT_EQ(out_.str(), "failed VEALPHA: " + L("eject.retained_message") + "\nejected VEBRAVO\n");
  EXPECT_TRUE(alpha_->mounted());
  EXPECT_TRUE(alpha_->attached());
  EXPECT_TRUE(alpha_->fileReadable());
  EXPECT_FALSE(bravo_->mounted());
  EXPECT_TRUE(bravo_->waitUntilDetached());
  EXPECT_TRUE(bravo_->imageIntact());
}

TEST_P(EjectCommandsEndToEnd, Eject_ByName_EjectsOnlyThatVolume) {
  EXPECT_EQ(ejectVolume(platform_.engine(), platform_.dispatcher(), "VEBRAVO", out_, std::cerr), 0);

  EXPECT_EQ(out_.str(), "ejected VEBRAVO\n");
  EXPECT_TRUE(bravo_->waitUntilDetached());
  EXPECT_TRUE(alpha_->mounted());
}

TEST_P(EjectCommandsEndToEnd, TheProgram_EjectAll_FollowsTheSavedSettings) {
  EjectSettings::setEjectDiskImages(false);
  const ProgramRun excluded = runProgram({"eject-all"});
  EXPECT_EQ(excluded.status, 0);
  EXPECT_EQ(excluded.output, "nothing to eject\n");
  EXPECT_TRUE(alpha_->mounted());

  EjectSettings::setEjectDiskImages(true);
  const ProgramRun included = runProgram({"eject-all"});
  EXPECT_EQ(included.status, 0);
  EXPECT_EQ(included.output, "ejected VEALPHA\nejected VEBRAVO\n");
  EXPECT_TRUE(alpha_->waitUntilDetached());
  EXPECT_TRUE(bravo_->waitUntilDetached());
  EXPECT_TRUE(alpha_->imageIntact());
  EXPECT_TRUE(bravo_->imageIntact());
}

TEST_P(EjectCommandsEndToEnd, TheProgram_AsUnprivilegedUser_FailsAndTouchesNothing) {
  // The volume must be visible to nobody, or the program would not even find it.
  ASSERT_EQ(chmod(folder_.path().c_str(), 0755), 0);

  const ProgramRun run = runProgram({"eject", alpha_->mountPath().string()}, true);

  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.output, "failed VEALPHA: " + L("eject.failed_message") + "\n");
  EXPECT_TRUE(alpha_->mounted());
  EXPECT_TRUE(alpha_->attached());
  EXPECT_TRUE(alpha_->fileReadable());
}

INSTANTIATE_TEST_SUITE_P(Routes, EjectCommandsEndToEnd,
                         ::testing::Values(Route::udisks, Route::direct), [](const auto& info) {
                           return info.param == Route::udisks ? "ThroughUdisks" : "Direct";
                         });

} // namespace
