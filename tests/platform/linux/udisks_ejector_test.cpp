// The udisks2 ejector against a fake UDisks2 service on a private bus: which calls it makes,
// in which order, with which options, and how it fails.

#include "platform/linux/udisks_ejector.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/linux/system_ejector.h"
#include "tests/platform/linux/fake_udisks_eject_service.h"
#include "tests/platform/linux/udisks_test_bus.h"

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using Block = FakeUdisksEjectService::Block;
using Drive = FakeUdisksEjectService::Drive;

const std::string blocks = "/org/freedesktop/UDisks2/block_devices/";
const std::string drives = "/org/freedesktop/UDisks2/drives/";

class UdisksEjectorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bus_ = test_bus::PrivateSystemBus::start();
    if (!bus_) {
      GTEST_SKIP() << "dbus-daemon cannot be started here (package dbus-daemon)";
    }
  }

  void serve(std::vector<Block> blockList, std::vector<Drive> driveList = {}) {
    service_ = std::make_unique<FakeUdisksEjectService>(bus_->address(), std::move(blockList),
                                                        std::move(driveList));
  }

  UdisksEjector ejector(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    return UdisksEjector({bus_->address(), timeout});
  }

  std::unique_ptr<test_bus::PrivateSystemBus> bus_;
  std::unique_ptr<FakeUdisksEjectService> service_;
};

TEST_F(UdisksEjectorTest, UsbDrive_IsUnmountedThenPoweredOff) {
  serve({{blocks + "sdb1", drives + "Stick", {"/media/ana/STICK"}}},
        {{drives + "Stick", true, true, true}});

  const EjectOutcome outcome = ejector().unmountAndEject("/media/ana/STICK");

  EXPECT_TRUE(outcome.success) << outcome.errorText;
  EXPECT_THAT(service_->callNames(), ElementsAre("Filesystem.Unmount " + blocks + "sdb1",
                                                 "Drive.PowerOff " + drives + "Stick"));
}

TEST_F(UdisksEjectorTest, EveryCall_AllowsInteractiveAuthorisationAndNeverForces) {
  serve({{blocks + "sdb1", drives + "Stick", {"/media/ana/STICK"}}},
        {{drives + "Stick", true, false, false}});

  ejector().unmountAndEject("/media/ana/STICK");

  const auto calls = service_->calls();
  ASSERT_EQ(calls.size(), 2u);
  for (const auto& call : calls) {
    EXPECT_EQ(call.options,
              (std::map<std::string, std::string>{{"auth.no_user_interaction", "false"}}))
        << call.method;
  }
}

TEST_F(UdisksEjectorTest, RemovableMedia_IsUnmountedThenEjected) {
  serve({{blocks + "sdc", drives + "CardReader", {"/media/ana/CARD"}}},
        {{drives + "CardReader", false, true, true}});

  const EjectOutcome outcome = ejector().unmountAndEject("/media/ana/CARD");

  EXPECT_TRUE(outcome.success) << outcome.errorText;
  EXPECT_THAT(service_->callNames(), ElementsAre("Filesystem.Unmount " + blocks + "sdc",
                                                 "Drive.Eject " + drives + "CardReader"));
}

TEST_F(UdisksEjectorTest, FixedDriveThatCannotPowerOff_IsOnlyUnmounted) {
  serve({{blocks + "sdd1", drives + "Dock", {"/media/ana/DOCK"}}},
        {{drives + "Dock", false, false, false}});

  EXPECT_TRUE(ejector().unmountAndEject("/media/ana/DOCK").success);
  EXPECT_THAT(service_->callNames(), ElementsAre("Filesystem.Unmount " + blocks + "sdd1"));
}

TEST_F(UdisksEjectorTest, DriveWithAnotherMountedPartition_IsUnmountedButNotPoweredOff) {
  serve({{blocks + "sdb1", drives + "Disk", {"/media/ana/PHOTOS"}},
         {blocks + "sdb2", drives + "Disk", {"/media/ana/MUSIC"}}},
        {{drives + "Disk", true, true, true}});

  const EjectOutcome outcome = ejector().unmountAndEject("/media/ana/PHOTOS");

  EXPECT_TRUE(outcome.success) << outcome.errorText;
  EXPECT_THAT(service_->callNames(), ElementsAre("Filesystem.Unmount " + blocks + "sdb1"));

  // The last mounted partition of the drive takes the drive with it.
  EXPECT_TRUE(ejector().unmountAndEject("/media/ana/MUSIC").success);
  EXPECT_THAT(service_->callNames(), ElementsAre("Filesystem.Unmount " + blocks + "sdb1",
                                                 "Filesystem.Unmount " + blocks + "sdb2",
                                                 "Drive.PowerOff " + drives + "Disk"));
}

TEST_F(UdisksEjectorTest, DriveWhoseOtherPartitionIsNotMounted_IsPoweredOff) {
  serve({{blocks + "sdb1", drives + "Disk", {"/media/ana/PHOTOS"}},
         {blocks + "sdb2", drives + "Disk", {}}},
        {{drives + "Disk", true, true, true}});

  EXPECT_TRUE(ejector().unmountAndEject("/media/ana/PHOTOS").success);
  EXPECT_THAT(service_->callNames(), ElementsAre("Filesystem.Unmount " + blocks + "sdb1",
                                                 "Drive.PowerOff " + drives + "Disk"));
}

TEST_F(UdisksEjectorTest, LoopDevice_IsUnmountedThenDeleted) {
  Block image{blocks + "loop0", "/", {"/media/ana/IMAGE"}};
  image.isLoop = true;
  serve({image});

  EXPECT_TRUE(ejector().unmountAndEject("/media/ana/IMAGE").success);
  EXPECT_THAT(service_->callNames(), ElementsAre("Filesystem.Unmount " + blocks + "loop0",
                                                 "Loop.Delete " + blocks + "loop0"));
}

TEST_F(UdisksEjectorTest, PartitionOfAnImage_DeletesTheLoopDeviceOfItsTable) {
  Block table{blocks + "loop1", "/", {}};
  table.isLoop = true;
  Block partition{blocks + "loop1p1", "/", {"/media/ana/PART"}};
  partition.partitionTable = blocks + "loop1";
  serve({table, partition});

  EXPECT_TRUE(ejector().unmountAndEject("/media/ana/PART").success);
  EXPECT_THAT(service_->callNames(), ElementsAre("Filesystem.Unmount " + blocks + "loop1p1",
                                                 "Loop.Delete " + blocks + "loop1"));
}

TEST_F(UdisksEjectorTest, NotAuthorised_FailsAndCallsNothingMore) {
  serve({{blocks + "sdb1", drives + "Stick", {"/media/ana/STICK"}}},
        {{drives + "Stick", true, true, true}});
  service_->failWith(blocks + "sdb1", "Filesystem.Unmount",
                     {"org.freedesktop.UDisks2.Error.NotAuthorizedCanObtain",
                      "Not authorized to perform operation"});

  const EjectOutcome outcome = ejector().unmountAndEject("/media/ana/STICK");

  EXPECT_FALSE(outcome.success);
  EXPECT_THAT(outcome.errorText, HasSubstr("org.freedesktop.UDisks2.Error.NotAuthorizedCanObtain"));
  EXPECT_THAT(service_->callNames(), ElementsAre("Filesystem.Unmount " + blocks + "sdb1"));
}

TEST_F(UdisksEjectorTest, PowerOffRefused_IsAFailure) {
  serve({{blocks + "sdb1", drives + "Stick", {"/media/ana/STICK"}}},
        {{drives + "Stick", true, true, true}});
  service_->failWith(drives + "Stick", "Drive.PowerOff",
                     {"org.freedesktop.UDisks2.Error.Failed", "Error powering off drive"});

  const EjectOutcome outcome = ejector().unmountAndEject("/media/ana/STICK");

  EXPECT_FALSE(outcome.success);
  EXPECT_THAT(outcome.errorText, HasSubstr("Error powering off drive"));
}

TEST_F(UdisksEjectorTest, UnmountThatNeverAnswers_FailsAtTheTimeout) {
  serve({{blocks + "sdb1", drives + "Stick", {"/media/ana/STICK"}}},
        {{drives + "Stick", true, true, true}});
  service_->delay(blocks + "sdb1", "Filesystem.Unmount", std::chrono::milliseconds(1500));

  const EjectOutcome outcome =
      ejector(std::chrono::milliseconds(200)).unmountAndEject("/media/ana/STICK");

  EXPECT_FALSE(outcome.success);
  EXPECT_THAT(outcome.errorText, Not(IsEmpty()));
  EXPECT_THAT(service_->callNames(), ElementsAre("Filesystem.Unmount " + blocks + "sdb1"));
}

TEST_F(UdisksEjectorTest, MountPath_IsComparedExactly) {
  serve({{blocks + "sdb1", drives + "Stick", {"/media/ana/STICK 2"}}},
        {{drives + "Stick", true, true, true}});

  const auto prefix = ejector().attempt("/media/ana/STICK");
  EXPECT_FALSE(prefix.outcome.success);
  EXPECT_FALSE(prefix.volumeKnown);
  EXPECT_THAT(service_->calls(), IsEmpty());

  EXPECT_TRUE(ejector().unmountAndEject("/media/ana/STICK 2/").success);
}

TEST_F(UdisksEjectorTest, ServiceAvailable_OnlyWhileUdisksOwnsItsName) {
  EXPECT_FALSE(ejector().serviceAvailable());
  serve({});
  EXPECT_TRUE(ejector().serviceAvailable());
}

TEST(UdisksEjectorWithoutBus, NoBusAtTheAddress_FailsWithoutCalling) {
  UdisksEjector ejector({"unix:path=/nonexistent/varnelo/bus", std::chrono::seconds(1)});

  EXPECT_FALSE(ejector.serviceAvailable());
  const EjectOutcome outcome = ejector.unmountAndEject("/media/ana/STICK");
  EXPECT_FALSE(outcome.success);
  EXPECT_THAT(outcome.errorText, Not(IsEmpty()));
}

// The per-call choice between udisks2 and the direct unmount.
class SystemEjectorTest : public UdisksEjectorTest {
 protected:
  SystemEjector systemEjector(bool root) {
    SystemEjector::Options options;
    options.udisks = {bus_->address(), std::chrono::seconds(10)};
    // A mount table with nothing in it: the direct way can only say so.
    options.direct.mountInfo = "/dev/null";
    options.isRoot = [root] { return root; };
    return SystemEjector(options);
  }
};

TEST_F(SystemEjectorTest, WithUdisksOnTheBus_EjectsThroughIt) {
  serve({{blocks + "sdb1", drives + "Stick", {"/media/ana/STICK"}}},
        {{drives + "Stick", true, true, true}});

  EXPECT_TRUE(systemEjector(false).unmountAndEject("/media/ana/STICK").success);
  EXPECT_THAT(service_->callNames(), ElementsAre("Filesystem.Unmount " + blocks + "sdb1",
                                                 "Drive.PowerOff " + drives + "Stick"));
}

TEST_F(SystemEjectorTest, MountUdisksDoesNotKnow_IsLeftToTheDirectWayForRoot) {
  serve({});

  const EjectOutcome asRoot = systemEjector(true).unmountAndEject("/media/ana/FUSE");
  EXPECT_FALSE(asRoot.success);
  EXPECT_THAT(asRoot.errorText, HasSubstr("nothing is mounted at"));

  const EjectOutcome asUser = systemEjector(false).unmountAndEject("/media/ana/FUSE");
  EXPECT_FALSE(asUser.success);
  EXPECT_THAT(asUser.errorText, HasSubstr("udisks2 knows no block device"));
}

TEST_F(SystemEjectorTest, NeitherUdisksNorRoot_FailsSayingSo) {
  const EjectOutcome outcome = systemEjector(false).unmountAndEject("/media/ana/STICK");

  EXPECT_FALSE(outcome.success);
  EXPECT_THAT(outcome.errorText, HasSubstr("neither udisks2"));
}

TEST_F(SystemEjectorTest, WithoutUdisksAsRoot_UnmountsDirectly) {
  const EjectOutcome outcome = systemEjector(true).unmountAndEject("/media/ana/STICK");

  EXPECT_FALSE(outcome.success);
  EXPECT_THAT(outcome.errorText, HasSubstr("nothing is mounted at /media/ana/STICK"));
}

} // namespace
