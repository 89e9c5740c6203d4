#include "platform/linux/linux_disk_describer.h"

#include <string>

#include <gtest/gtest.h>

namespace {

class LinuxDiskDescriberTest : public ::testing::Test {
 protected:
  LinuxDiskDescriberTest() : source_(options()), describer_(source_) {
    source_.mountedVolumePaths();
  }

  static LibmountVolumeSource::Options options() {
    LibmountVolumeSource::Options options;
    options.sysfsRoot = std::string(VARNELO_TEST_FIXTURES) + "/sysfs";
    options.mountInfoPath = std::string(VARNELO_TEST_FIXTURES) + "/mountinfo/desktop";
    options.utabPath.clear();
    options.useUdev = false;
    options.probeLabels = false;
    return options;
  }

  LibmountVolumeSource source_;
  LinuxDiskDescriber describer_;
};

} // namespace

TEST_F(LinuxDiskDescriberTest, LoopDeviceIsADiskImageOnTheVirtualInterface) {
  const auto description = describer_.describe("/mnt/image");
  ASSERT_TRUE(description.has_value());
  EXPECT_EQ(description->deviceModel, "Disk Image");
  EXPECT_EQ(description->deviceProtocol, "Virtual Interface");
}

TEST_F(LinuxDiskDescriberTest, UsbDiskGivesItsTrimmedModelAndUsb) {
  const auto description = describer_.describe("/media/user/STICK");
  ASSERT_TRUE(description.has_value());
  EXPECT_EQ(description->deviceModel, "Cruzer Blade");
  EXPECT_EQ(description->deviceProtocol, "USB");
}

TEST_F(LinuxDiskDescriberTest, InternalDisksGiveTheirBus) {
  EXPECT_EQ(describer_.describe("/")->deviceProtocol, "SATA");
  EXPECT_EQ(describer_.describe("/")->deviceModel, "Samsung SSD 860 EVO 500GB");
  EXPECT_EQ(describer_.describe("/home")->deviceProtocol, "NVMe");
  EXPECT_EQ(describer_.describe("/home")->deviceModel, "WDC PC SN730 SDBQNTY-512G-1001");
}

TEST_F(LinuxDiskDescriberTest, SdCardGivesItsCardName) {
  const auto description = describer_.describe("/media/user/SD");
  ASSERT_TRUE(description.has_value());
  EXPECT_EQ(description->deviceModel, "SD32G");
  EXPECT_EQ(description->deviceProtocol, "SD");
}

TEST_F(LinuxDiskDescriberTest, EncryptedVolumeOnAStickIsNotADiskImage) {
  const auto description = describer_.describe("/media/user/Vault");
  ASSERT_TRUE(description.has_value());
  EXPECT_EQ(description->deviceProtocol, "USB");
}

TEST_F(LinuxDiskDescriberTest, UnknownMountGivesNothing) {
  EXPECT_FALSE(describer_.describe("/media/user/Gone").has_value());
  EXPECT_FALSE(describer_.describe("/proc").has_value());
}
