// Discovery end to end on real loop devices: real source, describer, monitor and engine.

#include <grp.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <regex>
#include <thread>

#include <gtest/gtest.h>

#include "app/cli/linux_platform.h"
#include "tests/platform/linux/eject_test_volumes.h"
#include "tests/support/temporary_folder.h"

using test_support::runCommand;
using test_volumes::LoopVolume;

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

  // Our folder's volumes as the user sees them: "name device [image] [backup] ... at X; ".
  std::string listedFor(uid_t user) {
    int ends[2];
    EXPECT_EQ(pipe(ends), 0);
    if (fork() == 0) {
      if (user != 0 && (setgroups(0, nullptr) != 0 || setresgid(user, user, user) != 0 ||
                        setresuid(user, user, user) != 0)) {
        _exit(1);
      }
      LinuxPlatform platform;
      std::string text;
      for (const auto& v : platform.engine().volumes()) {
        if (v.id.starts_with(folder_.path().string())) {
          text += v.name + " " + v.device + (v.isDiskImage ? " image" : "") +
                  (v.isTimeMachine ? " backup" : "") + (v.backupUnknown ? " unknown" : "") + " at";
          for (const auto& path : v.mountPaths) {
            text += " " + std::filesystem::path(path).filename().string();
          }
          text += "; ";
        }
      }
      _exit(write(ends[1], text.data(), text.size()) == static_cast<ssize_t>(text.size()) ? 0 : 1);
    }
    close(ends[1]);
    std::string text(4096, '\0');
    text.resize(static_cast<std::size_t>(std::max<ssize_t>(read(ends[0], text.data(), 4096), 0)));
    close(ends[0]);
    wait(nullptr);
    return text;
  }

  test_volumes::PrivateMountNamespace privateNamespace_;
  TemporaryFolder folder_;
};

} // namespace

// Mounted twice, bound, under a hidden mark: one volume. FAT through FUSE is a disk image.
TEST_F(DiscoveryIntegrationTest, DeviceListedOnceByItsShortestWholeMountFuseImagesToo) {
  if (!std::filesystem::exists("/usr/bin/fusefat") || !std::filesystem::exists("/sbin/mkfs.vfat")) {
    GTEST_SKIP() << "needs fusefat and dosfstools";
  }
  auto twice = volume("Twice");
  ASSERT_TRUE(twice);
  const auto in = twice->mountPath() / "in";
  const auto second = folder_ / "T2", inside = folder_ / "i", hidden = folder_ / "h";
  for (const auto& path : {second, inside, hidden, in}) {
    std::filesystem::create_directory(path);
  }
  ASSERT_EQ(mount(twice->device().c_str(), second.c_str(), "ext4", 0, nullptr), 0);
  ASSERT_EQ(mount(in.c_str(), inside.c_str(), nullptr, MS_BIND, nullptr), 0);
  const auto image = (folder_ / "hidden.img").string();
  ASSERT_EQ(runCommand({"/sbin/mkfs.ext4", "-q", "-F", image, "8M"}).status, 0);
  ASSERT_EQ(runCommand({"/bin/mount", "-o", "loop,x-gvfs-hide", image, hidden.string()}).status, 0);
  std::string whyNot;
  const auto fat = LoopVolume::create(folder_.path(), "FATIMG", whyNot, "vfat");
  const auto ours = listedFor(0);
  umount2(hidden.c_str(), MNT_DETACH); // the hidden image's loop device goes with it
  ASSERT_TRUE(fat) << whyNot;
  EXPECT_EQ(ours, "FATIMG " + fat->device() + " image at FATIMG; Twice " + twice->device() +
                      " image at T2 Twice; ");
}

// Backup marks and unreadable roots protect a volume; udev-ignored or system devices are hidden;
// udev's entry about an earlier medium of the same loop device is not believed.
TEST_F(DiscoveryIntegrationTest, BackupMarkersUnreadableRootUdevHintsAndStaleEntries) {
  auto borg = volume("Borg"), locked = volume("Locked"), fresh = volume("Fresh");
  auto ignored = volume("Ignored"), system = volume("System");
  ASSERT_TRUE(borg && locked && fresh && ignored && system);
  struct stat node {};
  ASSERT_EQ(stat(fresh->device().c_str(), &node), 0);
  const std::string entry = "/run/udev/data/b" + std::to_string(major(node.st_rdev)) + ":" +
                            std::to_string(minor(node.st_rdev));
  std::ofstream(folder_ / "stale")
      << "S:disk/by-diskseq/1\nE:ID_FS_TYPE=ext4\nE:ID_FS_LABEL=Stale\n";
  ASSERT_EQ(mount((folder_ / "stale").c_str(), entry.c_str(), nullptr, MS_BIND, nullptr), 0);
  std::filesystem::create_directory(borg->mountPath() / "repo");
  std::ofstream(borg->mountPath() / "repo" / "README") << "This is a Borg Backup repository.\n";
  std::ofstream(borg->mountPath() / "repo" / "config") << "[repository]\nversion = 1\n";
  std::filesystem::permissions(folder_.path(), std::filesystem::perms::all);
  std::filesystem::permissions(locked->mountPath(), std::filesystem::perms::owner_all);
  // By the image's own UUID, not the loop number, which the next test may reuse.
  const std::filesystem::path installed =
      "/run/udev/rules.d/99-varnelo-test-" +
      std::filesystem::path(ignored->device()).filename().string() + ".rules";
  std::filesystem::create_directories(installed.parent_path());
  std::ofstream(installed) << "ENV{ID_FS_UUID}==\""
                           << udev_daemon::fileSystemUuid(ignored->device())
                           << "\", ENV{UDISKS_IGNORE}=\"1\"\nENV{ID_FS_UUID}==\""
                           << udev_daemon::fileSystemUuid(system->device())
                           << "\", ENV{UDISKS_SYSTEM}=\"1\"\n";
  const bool applied = udev_daemon::applyRulesUntil(ignored->device(), "UDISKS_IGNORE", "1") &&
                       udev_daemon::applyRulesUntil(system->device(), "UDISKS_SYSTEM", "1");
  const auto forRoot = listedFor(0);
  const auto forNobody = listedFor(65534);
  std::filesystem::remove(installed);
  ASSERT_TRUE(applied && udev_daemon::applyRulesUntil(ignored->device(), "UDISKS_IGNORE", "") &&
              udev_daemon::applyRulesUntil(system->device(), "UDISKS_SYSTEM", ""));
  umount2(entry.c_str(), MNT_DETACH);
  const std::string borgSeen = "Borg " + borg->device() + " image backup at Borg; Fresh " +
                               fresh->device() + " image at Fresh; ";
  EXPECT_EQ(forRoot, borgSeen + "Locked " + locked->device() + " image at Locked; ");
  EXPECT_EQ(forNobody, borgSeen + "Locked " + locked->device() + " image unknown at Locked; ");
}

// A script's quick mounts and unmounts never find the volume busy with us; then a mount (listed
// at once, its size a moment later), a new label and an unmount each reach onChange.
TEST_F(DiscoveryIntegrationTest, EngineWithTheRealMonitorStaysOutOfTheWayAndFollowsEachChange) {
  auto image = volume("Before");
  ASSERT_TRUE(image && image->unmountBehindTheBack());
  udev_daemon::settle(); // udev's first look would otherwise come after the mount, as a rename
  LinuxPlatform platform;
  EjectEngine& engine = platform.engine(/*watchVolumes=*/true);
  std::atomic<int> changes = 0;
  engine.setOnChange([&changes] { ++changes; });
  const auto listed = [&] {
    for (const auto& volume : engine.volumes()) {
      if (volume.id == image->mountPath().string()) {
        return volume.name + (volume.sizeText.empty() ? "" : " sized");
      }
    }
    return std::string("not listed");
  };
  auto& dispatcher = platform.dispatcher();
  const auto mountIt = [&] {
    return mount(image->device().c_str(), image->mountPath().c_str(), "ext4", 0, nullptr) == 0;
  };
  auto runFor = [&dispatcher](std::chrono::milliseconds limit) {
    bool finished = false;
    dispatcher.runInBackground([&dispatcher, &finished, limit] {
      std::this_thread::sleep_for(limit);
      dispatcher.runOnMain([&finished] { finished = true; });
    });
    dispatcher.runUntil([&finished] { return finished; });
  };
  std::atomic<int> busy = 0;
  bool cycled = false;
  std::thread script([&] {
    for (int cycle = 0; cycle < 100 && mountIt(); ++cycle) {
      for (int tries = 0; umount2(image->mountPath().c_str(), 0) != 0 && tries < 100; ++tries) {
        busy += tries == 0 && errno == EBUSY;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
    }
    dispatcher.runOnMain([&cycled] { cycled = true; });
  });
  dispatcher.runUntil([&cycled] { return cycled; });
  script.join();
  EXPECT_EQ(busy, 0) << "unmounts that found the volume busy";
  runFor(std::chrono::seconds(1));
  changes = 0;
  ASSERT_TRUE(mountIt());
  runFor(std::chrono::milliseconds(100));
  EXPECT_EQ(listed(), "Before");
  runFor(std::chrono::seconds(1));
  EXPECT_EQ(changes, 2);
  EXPECT_EQ(listed(), "Before sized");
  udev_daemon::triggerChange(image->device()); // the same label is no rename
  // e2label's ioctl goes unseen by udevd; the disk service's change event is made by hand.
  runCommand({"/sbin/e2label", image->device(), "After"});
  udev_daemon::triggerChange(image->device());
  runFor(std::chrono::seconds(1));
  EXPECT_EQ(changes, 3);
  EXPECT_EQ(listed(), "After sized");
  ASSERT_TRUE(image->unmountBehindTheBack());
  runFor(std::chrono::seconds(1));
  EXPECT_EQ(changes, 4);
  EXPECT_EQ(listed(), "not listed");
}

// Read-only images are disk images, listed and ejected by name; a snap (its image kept by
// snapd) and an AppImage (FUSE under /tmp/.mount_*) are programs running, never listed.
TEST_F(DiscoveryIntegrationTest, ReadOnlyImagesAreVolumesSnapsAndAppImagesAreNot) {
  for (const char* tool : {"/usr/bin/mksquashfs", "/usr/bin/mkfs.erofs", "/usr/bin/fusefat"}) {
    if (!std::filesystem::exists(tool)) {
      GTEST_SKIP() << "needs squashfs-tools, erofs-utils and fusefat";
    }
  }
  const auto content = folder_ / "content", snapd = std::filesystem::path("/var/lib/snapd");
  std::filesystem::create_directory(content);
  std::ofstream(content / "file.txt") << "inside an image\n";
  ASSERT_EQ(mount("tmpfs", "/var/lib", "tmpfs", 0, nullptr), 0); // this namespace only
  std::filesystem::create_directories(snapd);
  const auto appImage = "/tmp/.mount_varnelo" + std::to_string(getpid());
  std::filesystem::create_directories(appImage);
  const std::string squash = (folder_ / "s.img").string(), erofs = (folder_ / "e.img").string();
  const std::string snap = (snapd / "core.snap").string(), fat = (folder_ / "f.img").string();
  for (const auto& mountPath : {"Squash", "Erofs", "core22"}) {
    std::filesystem::create_directory(folder_ / mountPath);
  }
  for (const auto& command :
       {"mksquashfs " + content.string() + " " + squash + " -quiet -no-progress",
        "cp " + squash + " " + snap, "mkfs.erofs " + erofs + " " + content.string(),
        "truncate -s 8M " + fat + " && mkfs.vfat -n APPIMG " + fat,
        "mount -o loop,ro " + squash + " " + (folder_ / "Squash").string(),
        "mount -t erofs -o loop,ro " + erofs + " " + (folder_ / "Erofs").string(),
        "mount -o loop,ro " + snap + " " + (folder_ / "core22").string(),
        "fusefat -o ro,fsname=" + fat + " " + fat + " " + appImage}) {
    ASSERT_EQ(runCommand({"/bin/sh", "-c", command + " >/dev/null"}).status, 0) << command;
  }
  const auto listed = listedFor(0);
  const auto all = runCommand({VARNELO_CLI_PATH, "list"}).output;
  const auto ejected = runCommand({VARNELO_CLI_PATH, "eject", "Squash"});
  umount2(appImage.c_str(), MNT_DETACH);
  std::filesystem::remove(appImage);
  umount2((folder_ / "core22").c_str(), MNT_DETACH);
  EXPECT_TRUE(std::regex_search(listed, std::regex("^Erofs /dev/loop[0-9]+ image at Erofs; "
                                                   "Squash /dev/loop[0-9]+ image at Squash; $")))
      << listed;
  EXPECT_EQ(all.find(".mount_varnelo"), std::string::npos) << all;
  EXPECT_EQ(ejected.output, "ejected Squash\n");
  EXPECT_EQ(runCommand({"/bin/sh", "-c", "findmnt " + (folder_ / "Squash").string()}).status, 1);
  umount2((folder_ / "Erofs").c_str(), MNT_DETACH);
  umount2("/var/lib", MNT_DETACH);
}
