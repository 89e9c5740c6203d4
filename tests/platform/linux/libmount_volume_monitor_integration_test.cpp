#include "platform/linux/libmount_volume_monitor.h"

#include <sys/mount.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "tests/platform/linux/discovery_test_volumes.h"
#include "tests/platform/linux/udev_daemon.h"
#include "tests/support/temporary_folder.h"

using namespace std::chrono_literals;

namespace {

class LibmountVolumeMonitorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!privateNamespace_.error().empty()) {
      GTEST_SKIP() << privateNamespace_.error();
    }
  }

  void TearDown() override {
    monitor_.stop();
    for (const auto& path : mounted_) {
      umount2(path.c_str(), MNT_DETACH);
    }
  }

  // A tmpfs mount in a new folder.
  std::filesystem::path mountTmpfs() {
    const auto path = folder_ / ("tmpfs-" + std::to_string(mounted_.size()));
    std::filesystem::create_directories(path);
    EXPECT_EQ(mount("varnelo-test", path.c_str(), "tmpfs", 0, "size=1m"), 0);
    mounted_.push_back(path);
    return path;
  }

  void unmount(const std::filesystem::path& path) {
    EXPECT_EQ(umount2(path.c_str(), 0), 0);
    std::erase(mounted_, path);
  }

  // Waits until the count reaches at least `expected`, then a little longer for extras.
  int settledCount(int expected) {
    const auto deadline = std::chrono::steady_clock::now() + 3s;
    while (calls_ < expected && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(5ms);
    }
    std::this_thread::sleep_for(300ms);
    return calls_;
  }

  discovery_test::PrivateMountNamespace privateNamespace_;
  TemporaryFolder folder_;
  std::vector<std::filesystem::path> mounted_;
  std::atomic<int> calls_{0};
  LibmountVolumeMonitor monitor_;
};

} // namespace

TEST_F(LibmountVolumeMonitorTest, OneCallPerMountAndUnmountAtMostOneEachInABurstNoneAfterStop) {
  std::atomic<int> replaced{0};
  monitor_.start([&replaced] { ++replaced; });
  monitor_.start([this] { ++calls_; });
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(calls_, 0) << "nothing while the table stays the same";
  const auto path = mountTmpfs();
  EXPECT_EQ(settledCount(1), 1);
  unmount(path);
  EXPECT_EQ(settledCount(2), 2);
  for (int i = 0; i < 5; ++i) {
    mountTmpfs();
  }
  const int burst = settledCount(3) - 2;
  EXPECT_GE(burst, 1);
  EXPECT_LE(burst, 5);
  EXPECT_EQ(replaced, 0);
  monitor_.stop();
  const int before = calls_;
  mountTmpfs();
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(calls_, before);
}

TEST_F(LibmountVolumeMonitorTest, UdevChangeThatRelabelsAMountedVolumeIsOneCall) {
  if (!udev_daemon::ensureRunning()) {
    GTEST_SKIP() << "renames are heard through udevd, which cannot be started here";
  }
  std::string whyNot;
  auto image = discovery_test::LoopVolume::create(folder_.path(), "Before", whyNot);
  ASSERT_TRUE(image) << whyNot;
  udev_daemon::settle();
  monitor_.start([this] { ++calls_; });

  // A change event that leaves the label alone is no rename.
  udev_daemon::triggerChange(image->device());
  EXPECT_EQ(settledCount(0), 0);

  // e2label renames a mounted ext4 through an ioctl, which udevd's watch on the device does not
  // see; the change event a desktop would get from its disk service is made by hand here.
  ASSERT_EQ(
      discovery_test::runCommand({discovery_test::findTool("e2label"), image->device(), "After"})
          .status,
      0);
  udev_daemon::triggerChange(image->device());
  EXPECT_EQ(settledCount(1), 1);
}
