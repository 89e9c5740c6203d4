// The udisks2 path against the real udisksd, on a private system bus, with loop-mounted images.

#include "platform/linux/udisks_ejector.h"

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/platform/linux/discovery_test_volumes.h"
#include "tests/platform/linux/eject_test_volumes.h"
#include "tests/platform/linux/udisks_test_bus.h"
#include "tests/support/temporary_folder.h"

namespace {

using test_volumes::BusyHolder;
using test_volumes::LoopVolume;

class UdisksEjectorIntegration : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!privateMounts_.error().empty()) {
      GTEST_SKIP() << privateMounts_.error();
    }
    std::string whyNot;
    services_ = test_bus::UdisksTestServices::start(whyNot);
    if (!services_) {
      GTEST_SKIP() << "needs the real udisksd: " << whyNot;
    }
    volume_ = LoopVolume::create(folder_.path(), "UDISKSVOL", whyNot);
    if (!volume_) {
      GTEST_SKIP() << whyNot;
    }
    test_bus::UdisksTestServices::settle();
    // udisksd reads the mount table on its own schedule; wait until it lists our mount.
    ASSERT_TRUE(test_bus::waitUntil([&] { return knowsMount(); }))
        << "udisksd never listed " << volume_->mountPath();
  }

  bool knowsMount() {
    try {
      return listsMountPoint(volume_->mountPath().string());
    } catch (const sdbus::Error&) {
      return false;
    }
  }

  bool listsMountPoint(const std::string& mountPath) {
    auto connection = sdbus::createSessionBusConnectionWithAddress(services_->busAddress());
    auto manager =
        sdbus::createProxy(*connection, "org.freedesktop.UDisks2", "/org/freedesktop/UDisks2");
    std::map<sdbus::ObjectPath, std::map<std::string, std::map<std::string, sdbus::Variant>>>
        objects;
    manager->callMethod("GetManagedObjects")
        .onInterface("org.freedesktop.DBus.ObjectManager")
        .storeResultsTo(objects);
    for (auto& [path, interfaces] : objects) {
      const auto filesystem = interfaces.find("org.freedesktop.UDisks2.Filesystem");
      if (filesystem == interfaces.end()) {
        continue;
      }
      const auto points = filesystem->second.find("MountPoints");
      if (points == filesystem->second.end()) {
        continue;
      }
      for (const auto& bytes : points->second.get<std::vector<std::vector<std::uint8_t>>>()) {
        if (std::string(bytes.begin(), bytes.end()) == mountPath + '\0') {
          return true;
        }
      }
    }
    return false;
  }

  UdisksEjector ejector() const {
    UdisksEjector::Options options;
    options.busAddress = services_->busAddress();
    options.callTimeout = std::chrono::seconds(30);
    return UdisksEjector(options);
  }

  // Our mounts stay out of sight of tests running beside us, and theirs out of ours.
  discovery_test::PrivateMountNamespace privateMounts_;
  TemporaryFolder folder_;
  std::unique_ptr<test_bus::UdisksTestServices> services_;
  std::unique_ptr<LoopVolume> volume_;
};

TEST_F(UdisksEjectorIntegration, AsRoot_UnmountsAndDeletesTheLoopDevice) {
  const EjectOutcome outcome = ejector().unmountAndEject(volume_->mountPath().string());

  EXPECT_TRUE(outcome.success) << outcome.errorText;
  EXPECT_FALSE(volume_->mounted());
  EXPECT_TRUE(volume_->waitUntilDetached()) << volume_->device() << " is still attached";
  EXPECT_TRUE(volume_->imageIntact());
}

TEST_F(UdisksEjectorIntegration, AsUnprivilegedUser_FailsAndLeavesTheVolumeMounted) {
  int results[2];
  ASSERT_EQ(pipe(results), 0);
  const pid_t child = fork();
  if (child == 0) {
    // Only this child drops to nobody; the test process stays root for the clean-up.
    close(results[0]);
    if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) {
      _exit(3);
    }
    const EjectOutcome outcome = ejector().unmountAndEject(volume_->mountPath().string());
    const std::string report = (outcome.success ? "1" : "0") + outcome.errorText;
    [[maybe_unused]] auto written = write(results[1], report.data(), report.size());
    _exit(0);
  }
  close(results[1]);
  std::string report;
  char buffer[512];
  ssize_t count = 0;
  while ((count = read(results[0], buffer, sizeof buffer)) > 0) {
    report.append(buffer, static_cast<std::size_t>(count));
  }
  close(results[0]);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child could not drop root";

  ASSERT_FALSE(report.empty());
  EXPECT_EQ(report.front(), '0') << "an unprivileged caller ejected a volume it did not mount";
  EXPECT_NE(report.find("NotAuthorized"), std::string::npos) << report;
  EXPECT_TRUE(volume_->mounted());
  EXPECT_TRUE(volume_->attached());
  EXPECT_TRUE(volume_->fileReadable());
}

TEST_F(UdisksEjectorIntegration, BusyVolume_FailsAndStaysMountedWithItsFiles) {
  {
    BusyHolder holder(volume_->mountPath(), BusyHolder::How::workingFolder);

    const EjectOutcome outcome = ejector().unmountAndEject(volume_->mountPath().string());

    EXPECT_FALSE(outcome.success);
    EXPECT_NE(outcome.errorText.find("DeviceBusy"), std::string::npos) << outcome.errorText;
    EXPECT_TRUE(volume_->mounted());
    EXPECT_TRUE(volume_->attached());
    EXPECT_TRUE(volume_->fileReadable());
  }
  // Once the holder is gone the same volume ejects: the failure changed nothing.
  const EjectOutcome again = ejector().unmountAndEject(volume_->mountPath().string());
  EXPECT_TRUE(again.success) << again.errorText;
  EXPECT_TRUE(volume_->waitUntilDetached());
  EXPECT_TRUE(volume_->imageIntact());
}

TEST_F(UdisksEjectorIntegration, PathNothingIsMountedAt_FailsAsUnknownVolume) {
  const auto attempt = ejector().attempt((folder_ / "not-mounted").string());

  EXPECT_FALSE(attempt.outcome.success);
  EXPECT_FALSE(attempt.volumeKnown);
  EXPECT_TRUE(volume_->mounted());
}

} // namespace
