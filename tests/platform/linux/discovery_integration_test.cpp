// Discovery end to end on real loop devices: the built command line, and the engine with its
// real monitor.

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <regex>
#include <thread>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "cli/linux_platform.h"
#include "platform/linux/libmount_volume_source.h"
#include "tests/platform/linux/eject_test_volumes.h"
#include "tests/support/temporary_folder.h"

using test_support::runCommand;
using test_volumes::LoopVolume;

namespace {

test_support::CommandResult shell(const std::string& command) {
  return runCommand({"/bin/sh", "-c", command});
}

class DiscoveryIntegrationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!privateNamespace_.error().empty()) {
      GTEST_SKIP() << privateNamespace_.error();
    }
    udev_daemon::ensureRunning();
  }

  std::unique_ptr<LoopVolume> volume(const std::string& label, const std::string& type = "ext4") {
    std::string whyNot;
    auto created = LoopVolume::create(folder_.path(), label, whyNot, type);
    EXPECT_TRUE(created) << whyNot;
    return created;
  }

  // Our folder's volumes as `list --json` shows them to a user: "name [image] [backup kind]
  // [unknown] at each mount path; ".
  std::string listedFor(const std::string& user = "0") {
    const auto json =
        nlohmann::json::parse(shell("setpriv --reuid=" + user + " --regid=" + user +
                                    " --clear-groups " VARNELO_CLI_PATH " list --json")
                                  .output,
                              nullptr, false);
    std::string text;
    for (const auto& v : json.is_array() ? json : nlohmann::json::array()) {
      if (v["id"].get<std::string>().starts_with(folder_.path().string())) {
        const std::string kind = v["backupKind"];
        text += v["name"].get<std::string>() + (v["isDiskImage"] == true ? " image" : "") +
                (kind.empty() ? "" : " " + kind) + (v["backupUnknown"] == true ? " unknown" : "") +
                " at";
        for (const std::filesystem::path path : v["mountPaths"]) {
          text += " " + path.filename().string();
        }
        text += "; ";
      }
    }
    return text;
  }

  test_volumes::PrivateMountNamespace privateNamespace_;
  TemporaryFolder folder_;
};

} // namespace

// One volume per device, by its shortest whole mount (not a bound folder, not a hidden mount);
// FAT through FUSE (of a loop device or an image file) and read-only squashfs and erofs images are
// disk images, ejected by name; a snap (its image kept by snapd) and an AppImage (FUSE under
// /tmp/.mount_*) are programs running.
TEST_F(DiscoveryIntegrationTest, WhatIsListedImagesTooButNotRunningPrograms) {
  for (const char* tool : {"/usr/bin/mksquashfs", "/usr/bin/mkfs.erofs", "/usr/bin/fusefat"}) {
    if (!std::filesystem::exists(tool)) {
      GTEST_SKIP() << "needs squashfs-tools, erofs-utils and fusefat";
    }
  }
  auto twice = volume("Twice"), fat = volume("FATIMG", "vfat");
  ASSERT_TRUE(twice && fat);
  const auto f = folder_.path().string() + "/", appImage = "/tmp/.mount_varnelo" + f.substr(5, 6);
  for (const auto& path : {f + "T2", f + "i", f + "h", f + "Squash", f + "Erofs", f + "snap",
                           f + "c", f + "Fuse", appImage, twice->mountPath().string() + "/in"}) {
    std::filesystem::create_directories(path);
  }
  std::ofstream(f + "c/file.txt") << "inside an image\n";
  ASSERT_EQ(mount("tmpfs", "/var/lib", "tmpfs", 0, nullptr), 0); // this namespace only
  std::filesystem::create_directories("/var/lib/snapd");
  for (const auto& command :
       {"mount " + twice->device() + " " + f + "T2",
        "mount --bind " + twice->mountPath().string() + "/in " + f + "i",
        "mkfs.ext4 -q " + f + "h.img 8M && mount -o loop,x-gvfs-hide " + f + "h.img " + f + "h",
        "mksquashfs " + f + "c " + f + "s.img -quiet -no-progress",
        "mount -o loop,ro " + f + "s.img " + f + "Squash",
        "cp " + f + "s.img /var/lib/snapd/core.snap && mount -o loop,ro /var/lib/snapd/core.snap " +
            f + "snap",
        "mkfs.erofs " + f + "e.img " + f + "c && mount -t erofs -o loop,ro " + f + "e.img " + f +
            "Erofs",
        "truncate -s 8M " + f + "a.img && mkfs.vfat " + f + "a.img && fusefat -o ro,fsname=" + f +
            "a.img " + f + "a.img " + appImage,
        "truncate -s 8M " + f + "b.img && mkfs.vfat -n FUSEIMG " + f + "b.img && fusefat -o " +
            "ro,fsname=" + f + "b.img " + f + "b.img " + f + "Fuse"}) {
    ASSERT_EQ(shell(command + " >/dev/null").status, 0) << command;
  }
  const auto listed = listedFor();
  const auto all = runCommand({VARNELO_CLI_PATH, "list"}).output;
  const auto ejected = runCommand({VARNELO_CLI_PATH, "eject", "Squash"});
  for (const auto& path :
       {appImage, f + "Fuse", f + "snap", f + "h", f + "Erofs", std::string("/var/lib")}) {
    umount2(path.c_str(), MNT_DETACH); // loop devices mounted with -o loop go with them
  }
  std::filesystem::remove(appImage);
  EXPECT_EQ(listed, "Erofs image at Erofs; FATIMG image at FATIMG; FUSEIMG image at Fuse; "
                    "Squash image at Squash; "
                    "Twice image at T2 Twice; ");
  EXPECT_EQ(all.find(".mount_varnelo"), std::string::npos) << all;
  EXPECT_EQ(ejected.output, "ejected Squash\n");
  EXPECT_EQ(shell("findmnt " + f + "Squash").status, 1);
}

// Backup marks name their tool and an unreadable root protects a volume; udev-ignored or system
// devices are hidden; udev's entry about an earlier medium of a loop device is not believed.
TEST_F(DiscoveryIntegrationTest, BackupMarkersUnreadableRootUdevHintsAndStaleEntries) {
  auto borg = volume("Borg"), locked = volume("Locked"), fresh = volume("Fresh");
  auto ignored = volume("Ignored"), system = volume("System");
  ASSERT_TRUE(borg && locked && fresh && ignored && system);
  struct stat node {};
  ASSERT_EQ(stat(fresh->device().c_str(), &node), 0);
  const std::string entry = "/run/udev/data/b" + std::to_string(major(node.st_rdev)) + ":" +
                            std::to_string(minor(node.st_rdev));
  std::ofstream(folder_ / "stale") << "S:disk/by-diskseq/1\nE:ID_FS_TYPE=ext4\nE:ID_FS_LABEL=Old\n";
  ASSERT_EQ(mount((folder_ / "stale").c_str(), entry.c_str(), nullptr, MS_BIND, nullptr), 0);
  std::filesystem::create_directory(borg->mountPath() / "repo");
  std::ofstream(borg->mountPath() / "repo" / "README") << "This is a Borg Backup repository.\n";
  std::ofstream(borg->mountPath() / "repo" / "config") << "[repository]\nversion = 1\n";
  std::filesystem::permissions(folder_.path(), std::filesystem::perms::all);
  std::filesystem::permissions(locked->mountPath(), std::filesystem::perms::owner_all);
  // By the image's own UUID, not the loop number, which the next test may reuse.
  const std::filesystem::path rules = "/run/udev/rules.d/99-varnelo-test-" +
                                      std::filesystem::path(ignored->device()).filename().string() +
                                      ".rules";
  std::filesystem::create_directories(rules.parent_path());
  std::ofstream(rules) << "ENV{ID_FS_UUID}==\"" << udev_daemon::fileSystemUuid(ignored->device())
                       << "\", ENV{UDISKS_IGNORE}=\"1\"\nENV{ID_FS_UUID}==\""
                       << udev_daemon::fileSystemUuid(system->device())
                       << "\", ENV{UDISKS_SYSTEM}=\"1\"\n";
  const bool applied = udev_daemon::applyRulesUntil(ignored->device(), "UDISKS_IGNORE", "1") &&
                       udev_daemon::applyRulesUntil(system->device(), "UDISKS_SYSTEM", "1");
  const auto forRoot = listedFor(), forNobody = listedFor("65534");
  std::filesystem::remove(rules);
  ASSERT_TRUE(applied && udev_daemon::applyRulesUntil(ignored->device(), "UDISKS_IGNORE", "") &&
              udev_daemon::applyRulesUntil(system->device(), "UDISKS_SYSTEM", ""));
  umount2(entry.c_str(), MNT_DETACH);
  const std::string seen = "Borg image borg at Borg; Fresh image at Fresh; Locked image";
  EXPECT_EQ(forRoot, seen + " at Locked; ");
  EXPECT_EQ(forNobody, seen + " unknown at Locked; ");
}

// listmount(2) and mountinfo (thread-self's: the same table) read the live table alike: a volume
// mounted over another, a bound folder of a volume, a mount moved away.
TEST_F(DiscoveryIntegrationTest, ListedMountsReadAsMountinfoReadsThem) {
  auto below = volume("Below"), above = volume("Above");
  ASSERT_TRUE(below && above);
  LibmountVolumeSource listed, read({.mountInfoPath = "/proc/thread-self/mountinfo"});
  const auto described = [](LibmountVolumeSource& source) {
    std::string text;
    for (const auto& mounted : source.mountTable().value_or(std::vector<MountedPath>{})) {
      const auto values = source.resourceValues(mounted.mountPath).value_or(VolumeResources{});
      text += mounted.mountPath + " " + values.volumeName.value_or("?") + " " +
              values.device.value_or("?") + (values.isEjectable == true ? " ejectable; " : "; ");
    }
    return text;
  };
  ASSERT_TRUE(above->mountAlsoAt(below->mountPath()) && above->mountAlsoAt(folder_ / "in", true));
  const auto before = described(listed);
  EXPECT_EQ(before, described(read));
  EXPECT_NE(before.find(below->mountPath().string() + " Above /dev/"), std::string::npos);
  const auto moved = (folder_ / "moved").string(), from = below->mountPath().string();
  ASSERT_EQ(shell("mkdir " + moved + " && mount --move " + from + " " + moved).status, 0);
  EXPECT_EQ(described(listed), described(read));
  umount2(moved.c_str(), MNT_DETACH);
}

// A script's quick mounts and unmounts never find the volume busy with us; then a mount (listed
// at once, its size a moment later), a new label and an unmount each reach onChange.
TEST_F(DiscoveryIntegrationTest, EngineWithTheRealMonitorStaysOutOfTheWayAndFollowsEachChange) {
  auto image = volume("Before");
  ASSERT_TRUE(image && image->unmountBehindTheBack());
  udev_daemon::settle(); // udev's first look would otherwise come after the mount, as a rename
  LinuxPlatform platform;
  EjectEngine& engine = platform.engine(/*watchVolumes=*/true);
  auto& dispatcher = platform.dispatcher();
  std::atomic<int> changes = 0, busy = 0;
  engine.setOnChange([&changes] { ++changes; });
  const auto listed = [&] {
    for (const auto& volume : engine.volumes()) {
      if (volume.id == image->mountPath().string()) {
        return volume.name + (volume.sizeText.empty() ? "" : " sized");
      }
    }
    return std::string("not listed");
  };
  const auto mountIt = [&] {
    return mount(image->device().c_str(), image->mountPath().c_str(), "ext4", 0, nullptr) == 0;
  };
  // Runs the main queue until the task, on a thread of its own, is done.
  const auto runWhile = [&dispatcher](const std::function<void()>& task) {
    bool finished = false;
    std::thread thread([&] {
      task();
      dispatcher.runOnMain([&finished] { finished = true; });
    });
    dispatcher.runUntil([&finished] { return finished; });
    thread.join();
  };
  const auto wait = [](int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  };
  runWhile([&] {
    for (int cycle = 0; cycle < 100 && mountIt(); ++cycle) {
      for (int tries = 0; umount2(image->mountPath().c_str(), 0) != 0 && tries < 100; ++tries) {
        busy += tries == 0 && errno == EBUSY;
        wait(5);
      }
    }
    wait(1000);
  });
  EXPECT_EQ(busy, 0) << "unmounts that found the volume busy";
  changes = 0;
  ASSERT_TRUE(mountIt());
  runWhile([&] { wait(100); });
  EXPECT_EQ(listed(), "Before");
  runWhile([&] { wait(1000); });
  EXPECT_EQ(changes, 2);
  EXPECT_EQ(listed(), "Before sized");
  udev_daemon::triggerChange(image->device()); // the same label is no rename
  // e2label's ioctl goes unseen by udevd; the disk service's change event is made by hand.
  runCommand({"/sbin/e2label", image->device(), "After"});
  udev_daemon::triggerChange(image->device());
  runWhile([&] { wait(1000); });
  EXPECT_EQ(changes, 3);
  EXPECT_EQ(listed(), "After sized");
  ASSERT_TRUE(image->unmountBehindTheBack());
  runWhile([&] { wait(1000); });
  EXPECT_EQ(changes, 4);
  EXPECT_EQ(listed(), "not listed");
}
