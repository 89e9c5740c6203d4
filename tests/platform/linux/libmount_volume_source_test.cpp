#include "platform/linux/libmount_volume_source.h"

#include <fstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/linux/linux_disk_describer.h"
#include "tests/support/temporary_folder.h"

using ::testing::ElementsAre;

namespace {

LibmountVolumeSource::Options fixtureOptions(const std::string& table) {
  LibmountVolumeSource::Options options;
  options.sysfsRoot = VARNELO_TEST_FIXTURES "/sysfs";
  options.mountInfoPath = VARNELO_TEST_FIXTURES "/mountinfo/" + table;
  options.utabPath = options.mountInfoPath.string() + ".utab";
  options.fstabPath = options.mountInfoPath.string() + ".fstab";
  options.swapsPath = options.mountInfoPath.string() + ".swaps";
  options.useUdev = false;
  options.probeLabels = false;
  return options;
}

std::vector<std::string> pathsOf(LibmountVolumeSource& source) {
  std::vector<std::string> paths;
  for (const auto& entry :
       source.mountTable().value_or(std::vector{MountedPath{"unreadable", {}}})) {
    paths.push_back(entry.mountPath);
  }
  return paths;
}

} // namespace

// Each disk of a desktop machine: how it is classified and described.
TEST(LibmountVolumeSource, ClassifiesAndDescribesEachKindOfDisk) {
  struct Row {
    std::string path;
    bool internal, removable, ejectable;
    std::string device, model, protocol;
  };
  const Row rows[] = {
      {"/", true, false, false, "/dev/sda2", "Samsung SSD 860 EVO 500GB", "SATA"},
      {"/home", true, false, false, "/dev/nvme0n1p1", "WDC PC SN730 SDBQNTY-512G-1001", "NVMe"},
      {"/media/user/STICK", false, true, true, "/dev/sdb1", "Cruzer Blade", "USB"},
      {"/media/user/Expansion", false, false, true, "/dev/sdc1", "Expansion HDD", "USB"},
      {"/media/user/SD", false, true, true, "/dev/mmcblk0p1", "SD32G", "SD"},
      {"/media/user/DVD", false, true, true, "/dev/sr0", "DVD-RW DVR-TD11RS", "SATA"},
      {"/mnt/image", false, false, true, "/dev/loop0", "Disk Image", "Virtual Interface"},
      {"/media/user/Vault", false, true, true, "/dev/dm-0", "Cruzer Blade", "USB"}};
  LibmountVolumeSource source(fixtureOptions("desktop"));
  LinuxDiskDescriber describer(source);
  EXPECT_THAT(pathsOf(source),
              ElementsAre("/media/user/STICK", "/media/user/Expansion", "/media/user/SD",
                          "/media/user/DVD", "/mnt/image", "/media/user/Vault"));
  for (const Row& row : rows) {
    const auto values = source.resourceValues(row.path);
    const auto description = describer.describe(row.path);
    ASSERT_TRUE(values && description) << row.path;
    EXPECT_EQ(values->isInternal, row.internal) << row.path;
    EXPECT_EQ(values->isRemovable.value_or(false), row.removable) << row.path;
    EXPECT_EQ(values->isEjectable, row.ejectable) << row.path;
    EXPECT_EQ(values->device, row.device) << row.path;
    EXPECT_EQ(description->deviceModel.value_or(""), row.model) << row.path;
    EXPECT_EQ(description->deviceProtocol.value_or(""), row.protocol) << row.path;
  }
  EXPECT_FALSE(source.resourceValues("/media/user/Gone").has_value());
}

TEST(LibmountVolumeSource, HidesMarkedSystemAndFolderMountsAndNeverOffersTheSwapDisk) {
  LibmountVolumeSource source(fixtureOptions("hidden"));
  EXPECT_THAT(pathsOf(source), ElementsAre("/media/user/STICK", "/mnt/image", "/opt"));
  const auto swapCard = source.resourceValues("/media/user/SD").value_or(VolumeResources{});
  EXPECT_TRUE(swapCard.isInternal == true && swapCard.isEjectable == false);
  EXPECT_TRUE(source.resourceValues("/media/user/Backup").has_value()) << "hidden, not gone";
}

TEST(LibmountVolumeSource, ReadsOddPathsAndUnknownDevicesAndSurvivesNoTable) {
  LibmountVolumeSource escaped(fixtureOptions("escaped"));
  EXPECT_THAT(pathsOf(escaped), ElementsAre("/media/user/My Stick", "/media/user/two\nlines",
                                            "/media/user/back\\slash", "/media/user/caf\xe9"));
  TemporaryFolder folder;
  std::ofstream(folder / "table") << "22 1 8:99 / /media/x rw - ext4 /dev/sdz9 rw\n"
                                  << "24 1 0:51 / /media/net rw - fuse.sshfs me@host: rw\n";
  auto options = fixtureOptions("desktop");
  options.mountInfoPath = folder / "table";
  LibmountVolumeSource source(options);
  EXPECT_THAT(pathsOf(source), ElementsAre("/media/x"));
  const auto unknown = source.resourceValues("/media/x").value_or(VolumeResources{});
  EXPECT_FALSE(unknown.isInternal || unknown.isRemovable || unknown.isEjectable);
  options.mountInfoPath = folder / "no-such-table";
  LibmountVolumeSource none(options);
  EXPECT_FALSE(none.mountTable().has_value());
  EXPECT_FALSE(none.resourceValues("/media/user/STICK").has_value());
}
