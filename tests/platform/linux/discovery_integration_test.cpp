// Discovery end to end on real loop devices: the real volume source, describer and engine, with
// its real monitor.

#include <grp.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/cli/linux_platform.h"
#include "tests/platform/linux/discovery_test_volumes.h"
#include "tests/support/temporary_folder.h"

using namespace std::chrono_literals;
using discovery_test::LoopVolume;
using discovery_test::runCommand;
using ::testing::ElementsAre;

namespace {

class DiscoveryIntegrationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!privateNamespace_.error().empty()) {
      GTEST_SKIP() << privateNamespace_.error();
    }
    udev_daemon::ensureRunning();
  }

  std::unique_ptr<LoopVolume> volume(const std::string& label) {
    std::string whyNot;
    auto created = LoopVolume::create(folder_.path(), label, whyNot);
    EXPECT_TRUE(created) << whyNot;
    return created;
  }

  // The engine's volume mounted under the given path, as a user of that id sees it: "+" for a
  // backup, "?" for a root nobody can tell about, "i" for a disk image.
  static std::string seenAs(uid_t user, const std::filesystem::path& mountPath) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) {
      return "no pipe";
    }
    const pid_t child = fork();
    if (child == 0) {
      close(pipeEnds[0]);
      if (user != 0 && (setgroups(0, nullptr) != 0 || setresgid(user, user, user) != 0 ||
                        setresuid(user, user, user) != 0)) {
        _exit(1);
      }
      LinuxPlatform platform;
      for (const auto& volume : platform.engine().volumes()) {
        if (std::find(volume.mountPaths.begin(), volume.mountPaths.end(), mountPath) !=
            volume.mountPaths.end()) {
          const std::string marks = std::string(volume.isTimeMachine ? "+" : "") +
                                    (volume.backupUnknown ? "?" : "") +
                                    (volume.isDiskImage ? "i" : "");
          (void)!write(pipeEnds[1], marks.data(), marks.size());
        }
      }
      _exit(0);
    }
    close(pipeEnds[1]);
    std::string seen = "listed:";
    char buffer[64];
    for (ssize_t got; (got = read(pipeEnds[0], buffer, sizeof buffer)) > 0;) {
      seen.append(buffer, static_cast<std::size_t>(got));
    }
    close(pipeEnds[0]);
    waitpid(child, nullptr, 0);
    return seen == "listed:" ? "not listed" : seen;
  }

  discovery_test::PrivateMountNamespace privateNamespace_;
  TemporaryFolder folder_;
};

} // namespace

TEST_F(DiscoveryIntegrationTest, DeviceListedOnceByItsShortestWholeMountNeverByAFolderOrHidden) {
  auto twice = volume("Twice");
  ASSERT_TRUE(twice);
  const auto second = folder_ / "T2";
  const auto subFolder = folder_ / "s";
  std::filesystem::create_directories(twice->mountPath() / "inside");
  for (const auto& path : {second, subFolder}) {
    std::filesystem::create_directory(path);
  }
  ASSERT_EQ(mount(twice->device().c_str(), second.c_str(), "ext4", 0, nullptr), 0);
  ASSERT_EQ(
      mount((twice->mountPath() / "inside").c_str(), subFolder.c_str(), nullptr, MS_BIND, nullptr),
      0);
  const auto image = folder_ / "hidden.img";
  const auto hidden = folder_ / "Hidden";
  std::filesystem::create_directory(hidden);
  ASSERT_EQ(
      runCommand({"/sbin/mkfs.ext4", "-q", "-F", "-L", "Hidden", image.string(), "8M"}).status, 0);
  ASSERT_EQ(
      runCommand({"/bin/mount", "-o", "loop,x-gvfs-hide", image.string(), hidden.string()}).status,
      0);

  LinuxPlatform platform;
  std::vector<EjectableVolume> ours;
  for (const auto& volume : platform.engine().volumes()) {
    if (volume.id.starts_with(folder_.path().string())) {
      ours.push_back(volume);
    }
  }
  umount2(hidden.c_str(), MNT_DETACH); // its loop device goes with it
  ASSERT_EQ(ours.size(), 1u) << ours.back().id;
  EXPECT_EQ(ours[0].id, second.string());
  EXPECT_EQ(ours[0].name, "Twice");
  EXPECT_EQ(ours[0].device, twice->device());
  EXPECT_THAT(ours[0].mountPaths, ElementsAre(second.string(), twice->mountPath().string()));
  EXPECT_EQ(EjectEngine::resume(ours), EjectEngine::resume({ours[0]}));
}

TEST_F(DiscoveryIntegrationTest, FuseMountOfAFatImageIsADiskImageWithItsLabel) {
  if (!std::filesystem::exists("/usr/bin/fusefat") || !std::filesystem::exists("/sbin/mkfs.vfat")) {
    GTEST_SKIP() << "needs fusefat and dosfstools";
  }
  const auto image = folder_ / "fat.img";
  const auto mountPath = folder_ / "fat";
  std::filesystem::create_directory(mountPath);
  ASSERT_EQ(runCommand({"/sbin/mkfs.vfat", "-C", "-n", "FATIMG", image.string(), "8192"}).status,
            0);
  const auto attached =
      test_volumes::commandOutput({"/sbin/losetup", "-f", "--show", image.string()});
  ASSERT_TRUE(attached);
  const std::string device = attached->substr(0, attached->find('\n'));
  ASSERT_EQ(
      runCommand({"/usr/bin/fusefat", "-o", "rw+,fsname=" + device, device, mountPath.string()})
          .status,
      0);
  udev_daemon::waitUntilProbed(device);
  LinuxPlatform platform;
  std::optional<EjectableVolume> found;
  for (const auto& volume : platform.engine().volumes()) {
    if (volume.id == mountPath.string()) {
      found = volume;
    }
  }
  umount2(mountPath.c_str(), MNT_DETACH);
  runCommand({"/sbin/losetup", "-d", device});
  ASSERT_TRUE(found) << "a FUSE mount of a loop device is listed";
  EXPECT_TRUE(found->isDiskImage);
  EXPECT_EQ(found->name, "FATIMG");
  EXPECT_EQ(found->device, device);
}

// A backup tool's marks protect a volume; a root the user may not read protects it too, for that
// user, and says why.
TEST_F(DiscoveryIntegrationTest, BackupMarkersAndARootOnlyRootMayRead) {
  auto borg = volume("Borg");
  auto locked = volume("Locked");
  ASSERT_TRUE(borg && locked);
  std::filesystem::create_directory(borg->mountPath() / "repo");
  std::ofstream(borg->mountPath() / "repo" / "README") << "This is a Borg Backup repository.\n";
  std::ofstream(borg->mountPath() / "repo" / "config") << "[repository]\nversion = 1\n";
  std::filesystem::permissions(folder_.path(), std::filesystem::perms::all);
  std::filesystem::permissions(locked->mountPath(), std::filesystem::perms::owner_all);
  EXPECT_EQ(seenAs(0, borg->mountPath()), "listed:+i");
  EXPECT_EQ(seenAs(0, locked->mountPath()), "listed:i");
  EXPECT_EQ(seenAs(65534, locked->mountPath()), "listed:?i");
  EXPECT_EQ(seenAs(65534, borg->mountPath()), "listed:+i");
}

TEST_F(DiscoveryIntegrationTest, DeviceThatUdevTellsToIgnoreIsHidden) {
  if (!udev_daemon::ensureRunning()) {
    GTEST_SKIP() << "udevd is not running and cannot be started here";
  }
  auto image = volume("Ignored");
  ASSERT_TRUE(image);
  const std::string name = std::filesystem::path(image->device()).filename().string();
  const std::filesystem::path rule = "/run/udev/rules.d/99-varnelo-test-" + name + ".rules";
  struct RemovedAtTheEnd {
    std::filesystem::path path;
    ~RemovedAtTheEnd() {
      std::error_code ignored;
      std::filesystem::remove(path, ignored);
    }
  } ruleFile{rule}; // a rule left behind would hide this image from every later listing
  std::filesystem::create_directories(rule.parent_path());
  // By the image's own UUID, not the loop number, which the next test may reuse.
  const std::string uuid = udev_daemon::fileSystemUuid(image->device());
  ASSERT_FALSE(uuid.empty());
  std::ofstream(rule) << "ENV{ID_FS_UUID}==\"" << uuid << "\", ENV{UDISKS_IGNORE}=\"1\"\n";
  ASSERT_TRUE(udev_daemon::applyRulesUntil(image->device(), "UDISKS_IGNORE", "1"));
  const auto hidden = seenAs(0, image->mountPath());
  std::filesystem::remove(rule);
  ASSERT_TRUE(udev_daemon::applyRulesUntil(image->device(), "UDISKS_IGNORE", ""));
  EXPECT_EQ(hidden, "not listed");
  EXPECT_EQ(seenAs(0, image->mountPath()), "listed:i");
}

TEST_F(DiscoveryIntegrationTest, EngineWithTheRealMonitorCallsOnChangeOncePerMount) {
  auto image = volume("Watched");
  ASSERT_TRUE(image);
  ASSERT_TRUE(image->unmountBehindTheBack());
  // udev's first look at the new device would otherwise arrive after the mount, as a rename.
  udev_daemon::settle();

  LinuxPlatform platform;
  EjectEngine& engine = platform.engine(/*watchVolumes=*/true);
  std::atomic<int> changes = 0;
  engine.setOnChange([&changes] { ++changes; });
  const auto listed = [&] {
    return std::count_if(engine.volumes().begin(), engine.volumes().end(), [&](const auto& volume) {
      return volume.id == image->mountPath().string() && volume.name == "Watched";
    });
  };
  EXPECT_EQ(listed(), 0);
  // Runs the main queue until the time is up.
  auto runFor = [&platform](std::chrono::milliseconds limit) {
    auto finished = std::make_shared<std::atomic<bool>>(false);
    LoopDispatcher& dispatcher = platform.dispatcher();
    dispatcher.runInBackground([&dispatcher, finished, limit] {
      std::this_thread::sleep_for(limit);
      dispatcher.runOnMain([finished] { *finished = true; });
    });
    dispatcher.runUntil([&] { return finished->load(); });
  };
  ASSERT_EQ(mount(image->device().c_str(), image->mountPath().c_str(), "ext4", 0, nullptr), 0);
  runFor(1500ms);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(listed(), 1);
}
