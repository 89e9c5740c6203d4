// The direct unmount and loop detach, as root, on real loop devices.

#include "platform/linux/direct_ejector.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/platform/linux/discovery_test_volumes.h"
#include "tests/platform/linux/eject_test_volumes.h"
#include "tests/support/temporary_folder.h"

namespace {

using test_volumes::BusyHolder;
using test_volumes::LoopVolume;
using ::testing::HasSubstr;

class DirectEjectorIntegration : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!privateMounts_.error().empty()) {
      GTEST_SKIP() << privateMounts_.error();
    }
    std::string whyNot;
    volume_ = LoopVolume::create(folder_.path(), "DIRECTVOL", whyNot);
    if (!volume_) {
      GTEST_SKIP() << whyNot;
    }
  }

  // Our mounts stay out of sight of tests running beside us, and theirs out of ours.
  discovery_test::PrivateMountNamespace privateMounts_;
  TemporaryFolder folder_;
  std::unique_ptr<LoopVolume> volume_;
  DirectEjector ejector_;
};

TEST_F(DirectEjectorIntegration, LoopMountedImage_IsUnmountedAndDetached) {
  const EjectOutcome outcome = ejector_.unmountAndEject(volume_->mountPath().string());

  EXPECT_TRUE(outcome.success) << outcome.errorText;
  EXPECT_FALSE(volume_->mounted());
  EXPECT_TRUE(volume_->waitUntilDetached()) << volume_->device() << " is still attached";
  EXPECT_TRUE(volume_->imageIntact());
}

TEST_F(DirectEjectorIntegration, VolumeWithAnOpenFile_FailsBusyAndStaysMounted) {
  BusyHolder holder(volume_->mountPath(), BusyHolder::How::openFile);

  const EjectOutcome outcome = ejector_.unmountAndEject(volume_->mountPath().string());

  EXPECT_FALSE(outcome.success);
  EXPECT_THAT(outcome.errorText, HasSubstr("busy"));
  EXPECT_TRUE(volume_->mounted());
  EXPECT_TRUE(volume_->attached());
  EXPECT_TRUE(volume_->fileReadable());
}

TEST_F(DirectEjectorIntegration, VolumeWithAProcessInside_FailsBusyAndStaysMounted) {
  BusyHolder holder(volume_->mountPath(), BusyHolder::How::workingFolder);

  const EjectOutcome outcome = ejector_.unmountAndEject(volume_->mountPath().string());

  EXPECT_FALSE(outcome.success);
  EXPECT_TRUE(volume_->mounted());
  EXPECT_TRUE(volume_->attached());
  EXPECT_TRUE(volume_->fileReadable());
}

TEST_F(DirectEjectorIntegration, ImageMountedTwice_IsUnmountedHereButStaysAttached) {
  const auto second = folder_ / "second";
  std::filesystem::create_directory(second);
  ASSERT_EQ(test_bus::runCommand({"/bin/mount", "-t", "ext4", volume_->device(), second}), 0);

  const EjectOutcome outcome = ejector_.unmountAndEject(volume_->mountPath().string());

  EXPECT_TRUE(outcome.success) << outcome.errorText;
  EXPECT_FALSE(volume_->mounted());
  EXPECT_TRUE(volume_->attached()) << "the loop device was pulled from under another mount";
  EXPECT_TRUE(test_volumes::isMountPoint(second));
  umount2(second.c_str(), 0);
}

TEST_F(DirectEjectorIntegration, AutoClearingLoopMount_IsUnmountedAndGone) {
  const auto image = folder_ / "auto.img";
  std::filesystem::copy_file(volume_->image(), image);
  const auto mountPath = folder_ / "auto";
  std::filesystem::create_directory(mountPath);
  ASSERT_EQ(test_bus::runCommand({"/bin/mount", "-o", "loop", image.string(), mountPath}), 0);

  const EjectOutcome outcome = ejector_.unmountAndEject(mountPath.string());

  EXPECT_TRUE(outcome.success) << outcome.errorText;
  EXPECT_FALSE(test_volumes::isMountPoint(mountPath));
  if (test_volumes::isMountPoint(mountPath)) {
    umount2(mountPath.c_str(), MNT_DETACH);
  }
}

TEST_F(DirectEjectorIntegration, PathNothingIsMountedAt_FailsAndTouchesNothing) {
  const EjectOutcome outcome = ejector_.unmountAndEject(folder_.path().string());

  EXPECT_FALSE(outcome.success);
  EXPECT_THAT(outcome.errorText, HasSubstr("nothing is mounted at"));
  EXPECT_TRUE(volume_->mounted());
}

} // namespace
