// Ejection on real loop devices via udisksd and via direct unmount; the mount table decides.

#include <linux/loop.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "cli/linux_platform.h"
#include "platform/linux/direct_ejector.h"
#include "platform/linux/system_ejector.h"
#include "tests/platform/linux/eject_test_volumes.h"

namespace {

using test_support::findTool;
using test_support::runCommand;
using test_support::runProgram;
using test_volumes::LoopVolume;

enum class Route { udisks, direct };

class EjectFaults : public ::testing::TestWithParam<Route> {
 protected:
  void SetUp() override {
    std::string whyNot = privateMounts_.error();
    if (!whyNot.empty() ||
        (GetParam() == Route::udisks && !(services_ = test_bus::PrivateSystemBus::start(whyNot)))) {
      GTEST_SKIP() << whyNot;
    }
  }

  // A mounted volume that udisksd (when used, and unless FUSE) already lists.
  LoopVolume& volume(const std::string& label, bool autoClear = false,
                     const std::string& fileSystem = "ext4", std::filesystem::path in = {}) {
    std::string whyNot;
    volumes_.push_back(
        LoopVolume::create(in.empty() ? folder_.path() : in, label, whyNot, fileSystem, autoClear));
    if (!volumes_.back()) {
      throw std::runtime_error("cannot make the volume: " + whyNot); // fails the test
    }
    EXPECT_TRUE(fileSystem != "ext4" || udisksSees(volumes_.back()->mountPath())); // not FUSE
    return *volumes_.back();
  }

  bool udisksSees(const std::filesystem::path& path) {
    return !services_ ||
           (udev_daemon::settle(),
            test_bus::waitUntil([&] { return services_->listsMountPoint(path.string()); }));
  }

  SystemEjector::Options options() const {
    SystemEjector::Options options;
    options.udisks.busAddress =
        services_ ? services_->address() : "unix:path=" + (folder_ / "no-bus").string();
    options.udisks.callTimeout = std::chrono::seconds(30);
    return options;
  }

  EjectOutcome eject(const LoopVolume& volume) {
    return SystemEjector(options()).eject({volume.device(), {volume.mountPath().string()}});
  }

  test_volumes::PrivateMountNamespace privateMounts_;
  std::unique_ptr<test_bus::PrivateSystemBus> services_;
  TemporaryFolder folder_;
  std::vector<std::unique_ptr<LoopVolume>> volumes_;
};

} // namespace

TEST_P(EjectFaults, AutoClearOrFuseLoopOrOneAlreadyUnmounted_IsASuccessAndTheLoopGoes) {
  for (LoopVolume* image : {&volume("AutoClear", true), &volume("FATIMAGE", false, "vfat")}) {
    const EjectOutcome outcome = eject(*image);
    EXPECT_TRUE(outcome.success && outcome.leftUndone == EjectOutcome::LeftUndone::nothing)
        << outcome.errorText;
    EXPECT_TRUE(!image->mounted() && image->waitUntilDetached());
  }

  // Unmounted by someone else after the listing: nothing is left to do, nothing is touched.
  LoopVolume& gone = volume("Gone");
  ASSERT_TRUE(gone.unmountBehindTheBack());
  EXPECT_TRUE(eject(gone).success);
  EXPECT_TRUE(gone.attached());
}

TEST_P(EjectFaults, AnyHolderAnywhere_RefusesBeforeAnythingIsUnmountedAndIsNamed_ThenAllGoes) {
  using Kind = DeviceHold::Kind;
  for (const std::string what : {"namespace", "overlay", "covered", "busy", "loop"}) {
    LoopVolume& held = volume("Held-" + what);
    const auto at = [&](const std::string& name) { return folder_ / (what + "-" + name); };
    ASSERT_TRUE(held.mountAlsoAt(at("c2")) && held.mountAlsoAt(at("sub"), true));
    ASSERT_TRUE(udisksSees(at("c2")));
    std::unique_ptr<test_volumes::BusyHolder> process;
    std::string cleanUp;
    DeviceHold expected{Kind::coveredMountPoint, at("c2"), {}};
    if (what == "namespace" || what == "busy") {
      process = std::make_unique<test_volumes::BusyHolder>(held.mountPath() / LoopVolume::fileName,
                                                           what == "namespace");
      const VolumeUser user{"sleep", process->pid()};
      expected = {Kind::otherNamespace, std::to_string(user.pid), user};
    } else if (what == "overlay") {
      for (const auto& folder :
           {held.mountPath() / "upper", held.mountPath() / "work", at("lower"), at("merged")}) {
        std::filesystem::create_directories(folder);
      }
      const std::string options = "lowerdir=" + at("lower").string() +
                                  ",upperdir=" + (held.mountPath() / "upper").string() +
                                  ",workdir=" + (held.mountPath() / "work").string();
      ASSERT_EQ(mount("overlay", at("merged").c_str(), "overlay", 0, options.c_str()), 0);
      expected = {Kind::overlay, cleanUp = at("merged"), {}};
    } else if (what == "covered") {
      ASSERT_EQ(mount("tmpfs", at("c2").c_str(), "tmpfs", 0, nullptr), 0);
      std::ofstream(at("c2") / "on-tmpfs") << "kept";
      cleanUp = at("c2");
    } else {
      const auto loop = runCommand({"/bin/sh", "-c", "truncate -s1M $0 && losetup -f --show $0",
                                    (held.mountPath() / "inner.img").string()});
      expected = {Kind::loopDevice, cleanUp = loop.output.substr(0, loop.output.find('\n')), {}};
    }

    const EjectOutcome outcome = eject(held);

    EXPECT_NE(outcome.failure, EjectFailure::none) << what;
    if (what == "busy") {
      EXPECT_THAT(outcome.holders, ::testing::Contains(expected.user));
    } else {
      EXPECT_THAT(outcome.holds, ::testing::Contains(expected)) << what;
    }
    const auto allMounted = [&](bool mounted) {
      for (const auto& path : {held.mountPath(), at("c2"), at("sub")}) {
        EXPECT_EQ(held.mounted(path), mounted) << what << ": " << path;
      }
    };
    allMounted(true);
    EXPECT_TRUE(what != "covered" || std::filesystem::exists(at("c2") / "on-tmpfs"));
    if (what == "loop") {
      runProgram({findTool("losetup"), "--detach", cleanUp});
    } else if (!cleanUp.empty()) {
      umount2(cleanUp.c_str(), MNT_DETACH);
    }
    process.reset();

    // Once nothing holds it, every mount goes, the bind of a sub-folder too, and its loop.
    const EjectOutcome free = eject(held);
    EXPECT_TRUE(free.success) << what << ": " << free.errorText;
    allMounted(false);
    EXPECT_TRUE(held.waitUntilDetached() && held.imageIntact()) << what;
  }
  if (GetParam() == Route::direct) { // a holder the first look missed still makes it a failure
    LoopVolume& late = volume("Late");
    test_volumes::BusyHolder other(late.mountPath(), true);
    DirectEjector blind(DirectEjector::Paths{.procRoot = folder_.path()}); // sees no process
    EXPECT_FALSE(blind.eject({late.device(), {late.mountPath()}}).success);

    // A table that still lists it after the unmount is no success, free as the device now is.
    LoopVolume& stays = volume("Stays");
    std::ofstream(folder_ / "stale") << std::ifstream("/proc/self/mountinfo").rdbuf();
    DirectEjector stale(DirectEjector::Paths{.mountInfo = (folder_ / "stale").string()});
    EXPECT_EQ(stale.eject({stays.device(), {stays.mountPath()}}).failure, EjectFailure::other);
    EXPECT_FALSE(stays.mounted());
  }
}

TEST_P(EjectFaults, LoopHeldOpenOrReusedAfterTheUnmount_PartialNamingTheHolderOrLeftAlone) {
  LoopVolume& image = volume("HeldLoop");
  {
    test_volumes::BusyHolder holder(image.device());
    const EjectOutcome outcome = eject(image);
    EXPECT_TRUE(outcome.success && !image.mounted()) << outcome.errorText;
    EXPECT_EQ(outcome.leftUndone, EjectOutcome::LeftUndone::loopDetach);
    EXPECT_THAT(outcome.holders, ::testing::Contains(VolumeUser{"sleep", holder.pid()}));
  }
  EXPECT_TRUE(image.waitUntilDetached()); // it goes with its last user

  // Another image takes the number as soon as the first lets go: it is not ours to detach.
  LoopVolume& first = volume("Reused", true);
  const auto other = folder_ / "other.img";
  runProgram({findTool("truncate"), "-s1M", other.string()});
  std::atomic<bool> stop = false;
  std::atomic<bool> bound = false;
  std::thread taker([&] {
    const int file = open(other.c_str(), O_RDWR | O_CLOEXEC);
    // Read-only, so that no close raises a udev change event; a pause, so that udisksd and udevd
    // are not starved while it waits.
    while (!stop && !bound) {
      const int loop = open(first.device().c_str(), O_RDONLY | O_CLOEXEC);
      bound = loop >= 0 && ioctl(loop, LOOP_SET_FD, file) == 0;
      close(loop);
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    close(file);
  });
  const EjectOutcome outcome = eject(first);
  test_bus::waitUntil([&] { return bound.load(); }, std::chrono::seconds(3));
  stop = true;
  taker.join();
  EXPECT_TRUE(outcome.success) << outcome.errorText;
  ASSERT_TRUE(bound);
  const auto backing = "/sys/block/" + first.device().substr(5) + "/loop/backing_file";
  udev_daemon::settle();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  std::string file;
  EXPECT_TRUE(std::getline(std::ifstream(backing), file) && file == other.string()) << file;
  runProgram({findTool("losetup"), "--detach", first.device()});
}

TEST_P(EjectFaults, EjectAll_NestedVolumeGoesFirstAndTheOuterOneAloneSaysWhy) {
  LinuxPlatform lister; // eject-all takes every external volume: ours only, in our namespace
  for (const auto& listed : lister.engine().volumes()) {
    umount2(listed.id.c_str(), MNT_DETACH);
  }
  LoopVolume& outer = volume("A-Outer");
  LoopVolume& inner = volume("B-Inner", false, "ext4", outer.mountPath());

  const EjectOutcome alone = eject(outer);
  EXPECT_EQ(alone.failure, EjectFailure::nestedVolume);
  EXPECT_THAT(alone.nestedMounts, ::testing::ElementsAre(inner.mountPath().string()));
  EXPECT_TRUE(outer.mounted());

  LinuxPlatform platform;
  platform.settings().setEjectDiskImages(true);
  platform.setEjector(std::make_unique<SystemEjector>(options()));
  std::vector<EjectEngine::EjectResult> results;
  platform.engine().ejectAll([&](auto all) { results = std::move(all); });
  platform.dispatcher().runUntil([&] { return !results.empty(); });
  ASSERT_EQ(results.size(), 2u);
  EXPECT_EQ(results[0].volume.id, inner.mountPath().string());
  EXPECT_TRUE(results[0].success && results[1].success) << results[1].detail;
  EXPECT_TRUE(outer.waitUntilDetached() && inner.waitUntilDetached());
}

TEST_P(EjectFaults, OrdinaryUser_IsRefusedWithTheReasonAndTheVolumeStaysUnlessHeMountedItByFuse) {
  constexpr uid_t nobody = 65534;
  // Only a child drops to nobody; we stay root for the clean-up.
  const auto ejectAsNobody = [&](const EjectTarget& target) {
    const pid_t child = fork();
    if (child == 0) {
      const bool dropped = setgroups(0, nullptr) == 0 && setgid(nobody) == 0 && setuid(nobody) == 0;
      _exit(dropped ? static_cast<int>(SystemEjector(options()).eject(target).failure) : 255);
    }
    int status = 0;
    EXPECT_TRUE(waitpid(child, &status, 0) == child && WIFEXITED(status));
    return static_cast<EjectFailure>(WEXITSTATUS(status));
  };
  LoopVolume& ofRoot = volume("OfRoot");
  EXPECT_EQ(ejectAsNobody({ofRoot.device(), {ofRoot.mountPath().string()}}),
            GetParam() == Route::udisks ? EjectFailure::notAuthorised
                                        : EjectFailure::noWayToUnmount);
  EXPECT_TRUE(ofRoot.mounted() && ofRoot.attached());

  // An image file nobody mounted through FUSE himself is his to take down, udisks2 or not.
  const auto own = folder_ / "own";
  std::filesystem::create_directories(own / "mount");
  std::filesystem::permissions(folder_.path(), std::filesystem::perms::others_exec,
                               std::filesystem::perm_options::add);
  ASSERT_EQ(runCommand({findTool("mkfs.vfat"), "-C", (own / "image").string(), "1024"}).status, 0);
  ASSERT_EQ(chown(own.c_str(), nobody, nobody) | chown((own / "mount").c_str(), nobody, nobody) |
                chown((own / "image").c_str(), nobody, nobody),
            0);
  const std::string image = (own / "image").string();
  if (runProgram(
          {findTool("fusefat"), "-o", "rw+,fsname=" + image, image, (own / "mount").string()}, {},
          nobody)
          .status != 0) {
    GTEST_SKIP() << "nobody may not mount through FUSE here";
  }
  EXPECT_EQ(ejectAsNobody({image, {(own / "mount").string()}}), EjectFailure::none);
  EXPECT_EQ(umount2((own / "mount").c_str(), MNT_DETACH), -1) << "still mounted";
}

INSTANTIATE_TEST_SUITE_P(Routes, EjectFaults, ::testing::Values(Route::udisks, Route::direct),
                         [](const auto& info) {
                           return info.param == Route::udisks ? "Udisks" : "Direct";
                         });

// This kernel has no device-mapper: a prepared sysfs puts a mapping over a real loop volume.
class CryptMappingOverLoop : public EjectFaults {};

TEST_P(CryptMappingOverLoop, ClosedBeforeTheLoopGoes_LeftOpenSaysWhy_GoneOrNotCryptIsLeftAlone) {
  namespace fs = std::filesystem;
  DirectEjector::Paths paths;
  paths.sysRoot = folder_ / "sys";
  const fs::path mapping = folder_ / "sys/class/block/dm-7";
  fs::create_directories(mapping / "dm");
  fs::create_directories(folder_ / "sys/dev/block");
  fs::create_directory_symlink(mapping, folder_ / "sys/dev/block/253:7");
  fs::create_directory_symlink("/sys/block", folder_ / "sys/block");
  std::ofstream(mapping / "dm/name") << "varnelo-4f1c\n";
  ASSERT_EQ(mknod((folder_ / "dm-7").c_str(), S_IFBLK | 0600, makedev(253, 7)), 0);
  for (const auto& [uuid, closeError, leftUndone, loopStays] :
       std::vector<std::tuple<std::string, std::optional<int>, EjectOutcome::LeftUndone, bool>>{
           {"CRYPT-LUKS2-4f1c-varnelo-4f1c", 0, EjectOutcome::LeftUndone::nothing, false},
           {"CRYPT-LUKS2-4f1c-varnelo-4f1c", -EBUSY, EjectOutcome::LeftUndone::lock, true},
           // libcryptsetup itself, which knows no such mapping
           {"CRYPT-PLAIN-varnelo-4f1c", std::nullopt, EjectOutcome::LeftUndone::nothing, false},
           {"LVM-Vg0-Lv0", 0, EjectOutcome::LeftUndone::nothing, true}}) {
    LoopVolume& vault = volume("Vault");
    fs::remove_all(mapping / "slaves");
    fs::create_directories(mapping / "slaves");
    fs::create_directory_symlink("/sys/class/block/" + vault.device().substr(5),
                                 mapping / "slaves/beneath");
    std::ofstream(mapping / "dm/uuid") << uuid << "\n";
    std::string closed;
    const auto fake = [&closed, error = closeError.value_or(0)](const std::string& name) {
      closed += name;
      return DirectEjector::CryptCloseResult{.error = error, .message = "In use."};
    };
    const auto outcome =
        DirectEjector(paths, closeError ? fake : DirectEjector::CryptMappingCloser())
            .eject({(folder_ / "dm-7").string(), {vault.mountPath().string()}});

    EXPECT_TRUE(outcome.success && !vault.mounted()) << uuid;
    EXPECT_EQ(outcome.leftUndone, leftUndone) << uuid;
    EXPECT_EQ(outcome.errorText, closeError == -EBUSY ? "In use." : "") << uuid;
    EXPECT_EQ(closed, uuid.starts_with("CRYPT-") && closeError ? "varnelo-4f1c" : "");
    EXPECT_TRUE(loopStays ? vault.attached() : vault.waitUntilDetached()) << uuid;
  }
}

INSTANTIATE_TEST_SUITE_P(Direct, CryptMappingOverLoop, ::testing::Values(Route::direct));
