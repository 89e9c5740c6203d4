#include "platform/linux/libmount_volume_source.h"

#include <fstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/temporary_folder.h"

using ::testing::ElementsAre;

namespace {

const std::string fixtures = VARNELO_TEST_FIXTURES;

LibmountVolumeSource::Options fixtureOptions(const std::string& table,
                                             const std::string& utab = "") {
  LibmountVolumeSource::Options options;
  options.sysfsRoot = fixtures + "/sysfs";
  options.mountInfoPath = fixtures + "/mountinfo/" + table;
  options.utabPath = utab.empty() ? "" : fixtures + "/mountinfo/" + utab;
  options.useUdev = false;
  options.probeLabels = false;
  return options;
}

VolumeResources valuesOf(LibmountVolumeSource& source, const std::string& path) {
  source.mountedVolumePaths();
  const auto values = source.resourceValues(path);
  EXPECT_TRUE(values.has_value()) << path;
  return values.value_or(VolumeResources{});
}

} // namespace

TEST(LibmountVolumeSourceTable, ListsBlockDeviceMountsInTableOrder) {
  LibmountVolumeSource source(fixtureOptions("desktop"));
  EXPECT_THAT(source.mountedVolumePaths().value_or(std::vector<std::string>{}),
              ElementsAre("/", "/boot/efi", "/home", "/media/user/STICK", "/media/user/Expansion",
                          "/media/user/SD", "/media/user/DVD", "/mnt/image", "/media/user/Vault"));
}

TEST(LibmountVolumeSourceTable, HidesMountsMarkedHiddenInTheTableOrInUtab) {
  LibmountVolumeSource source(fixtureOptions("hidden", "hidden.utab"));
  EXPECT_THAT(source.mountedVolumePaths().value_or(std::vector<std::string>{}),
              ElementsAre("/", "/media/user/STICK", "/mnt/image"));
}

TEST(LibmountVolumeSourceTable, KeepsEscapedAndNonUtf8PathBytes) {
  LibmountVolumeSource source(fixtureOptions("escaped"));
  EXPECT_THAT(source.mountedVolumePaths().value_or(std::vector<std::string>{}),
              ElementsAre("/", "/media/user/My Stick", "/media/user/two\nlines",
                          "/media/user/back\\slash", "/media/user/caf\xe9"));
}

TEST(LibmountVolumeSourceTable, GivesNothingWhenTheTableCannotBeRead) {
  auto options = fixtureOptions("desktop");
  options.mountInfoPath = fixtures + "/mountinfo/no-such-table";
  LibmountVolumeSource source(options);
  EXPECT_FALSE(source.mountedVolumePaths().has_value());
  EXPECT_FALSE(source.resourceValues("/media/user/STICK").has_value());
}

TEST(LibmountVolumeSourceValues, UsbStickIsRemovableEjectableAndExternal) {
  LibmountVolumeSource source(fixtureOptions("desktop"));
  const auto values = valuesOf(source, "/media/user/STICK");
  EXPECT_EQ(values.isInternal, false);
  EXPECT_EQ(values.isRemovable, true);
  EXPECT_EQ(values.isEjectable, true);
}

TEST(LibmountVolumeSourceValues, UsbHardDiskIsEjectableThoughNotRemovable) {
  LibmountVolumeSource source(fixtureOptions("desktop"));
  const auto values = valuesOf(source, "/media/user/Expansion");
  EXPECT_EQ(values.isInternal, false);
  EXPECT_EQ(values.isRemovable, false);
  EXPECT_EQ(values.isEjectable, true);
}

TEST(LibmountVolumeSourceValues, SataAndNvmeDisksAreInternal) {
  LibmountVolumeSource source(fixtureOptions("desktop"));
  for (const char* path : {"/", "/boot/efi", "/home"}) {
    const auto values = valuesOf(source, path);
    EXPECT_EQ(values.isInternal, true) << path;
    EXPECT_EQ(values.isRemovable, false) << path;
    EXPECT_EQ(values.isEjectable, false) << path;
  }
}

TEST(LibmountVolumeSourceValues, SdCardOpticalDiscAndDiskImageAreExternalAndEjectable) {
  LibmountVolumeSource source(fixtureOptions("desktop"));
  for (const char* path : {"/media/user/SD", "/media/user/DVD", "/mnt/image"}) {
    const auto values = valuesOf(source, path);
    EXPECT_EQ(values.isInternal, false) << path;
    EXPECT_EQ(values.isEjectable, true) << path;
  }
  EXPECT_EQ(valuesOf(source, "/mnt/image").isRemovable, false);
}

TEST(LibmountVolumeSourceValues, MappedVolumeTakesItsDiskFromTheDeviceBeneath) {
  LibmountVolumeSource source(fixtureOptions("desktop"));
  source.mountedVolumePaths();
  const auto disk = source.diskOf("/media/user/Vault");
  ASSERT_TRUE(disk.has_value());
  EXPECT_EQ(disk->device, "dm-0");
  EXPECT_EQ(disk->disk, "sdb");
  EXPECT_EQ(valuesOf(source, "/media/user/Vault").isEjectable, true);
}

TEST(LibmountVolumeSourceValues, PartitionMapsToItsDisk) {
  LibmountVolumeSource source(fixtureOptions("desktop"));
  const auto disk = source.diskOf("/media/user/STICK");
  ASSERT_TRUE(disk.has_value());
  EXPECT_EQ(disk->device, "sdb1");
  EXPECT_EQ(disk->disk, "sdb");
  EXPECT_EQ(disk->bus, "usb");
}

TEST(LibmountVolumeSourceValues, PathNotInTheTableHasNoValues) {
  LibmountVolumeSource source(fixtureOptions("desktop"));
  source.mountedVolumePaths();
  EXPECT_FALSE(source.resourceValues("/media/user/Gone").has_value());
}

TEST(LibmountVolumeSourceValues, HiddenMountStillAnswersWhenAskedByPath) {
  LibmountVolumeSource source(fixtureOptions("hidden", "hidden.utab"));
  source.mountedVolumePaths();
  EXPECT_TRUE(source.resourceValues("/media/user/Backup").has_value());
}

TEST(LibmountVolumeSourceValues, DeviceUnknownToSysfsLeavesTheFlagsMissing) {
  TemporaryFolder folder;
  std::ofstream(folder / "table") << "22 1 8:99 / /media/x rw - ext4 /dev/sdz9 rw\n";
  auto options = fixtureOptions("desktop");
  options.mountInfoPath = folder / "table";
  LibmountVolumeSource source(options);
  const auto values = valuesOf(source, "/media/x");
  EXPECT_FALSE(values.isInternal.has_value());
  EXPECT_FALSE(values.isRemovable.has_value());
  EXPECT_FALSE(values.isEjectable.has_value());
  EXPECT_FALSE(values.volumeName.has_value());
}

TEST(LibmountVolumeSourceValues, CapacityComesFromTheMountedFileSystem) {
  TemporaryFolder folder;
  std::ofstream(folder / "table") << "22 1 7:0 / " << folder.path().string()
                                  << " rw - ext4 /dev/loop0 rw\n";
  auto options = fixtureOptions("desktop");
  options.mountInfoPath = folder / "table";
  LibmountVolumeSource source(options);
  const auto values = valuesOf(source, folder.path().string());
  ASSERT_TRUE(values.totalCapacity.has_value());
  EXPECT_GT(*values.totalCapacity, 0);
  EXPECT_FALSE(values.localizedName.has_value());
}
