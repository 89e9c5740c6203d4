// Discovery end to end on real loop devices: the volume source, the describer, the built
// command line and the engine with its real monitor.

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "app/cli/linux_platform.h"
#include "platform/linux/libmount_volume_source.h"
#include "platform/linux/linux_disk_describer.h"
#include "tests/platform/linux/discovery_test_volumes.h"
#include "tests/platform/linux/udev_daemon.h"
#include "tests/support/temporary_folder.h"

using namespace std::chrono_literals;
using discovery_test::LoopImage;

namespace {

class DiscoveryIntegrationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!privateNamespace_.error().empty()) {
      GTEST_SKIP() << privateNamespace_.error();
    }
  }

  // Attaches and mounts an image, or skips the test when the machine does not allow it.
  std::unique_ptr<LoopImage> mountedImage(const std::string& label) {
    auto image = std::make_unique<LoopImage>(folder_.path(), label);
    if (!image->error().empty()) {
      return nullptr;
    }
    return image;
  }

  // The built program's `list --json`, parsed; null when it did not run or printed no JSON.
  static nlohmann::json listJson() {
    const auto result = discovery_test::runCommand({VARNELO_CLI_PATH, "list", "--json"});
    EXPECT_EQ(result.status, 0);
    return nlohmann::json::parse(result.output, nullptr, false);
  }

  static std::optional<nlohmann::json> entryFor(const nlohmann::json& list,
                                                const std::filesystem::path& mountPath) {
    if (!list.is_array()) {
      return std::nullopt;
    }
    for (const auto& entry : list) {
      if (entry.value("id", "") == mountPath.string()) {
        return entry;
      }
    }
    return std::nullopt;
  }

  discovery_test::PrivateMountNamespace privateNamespace_;
  TemporaryFolder folder_;
};

} // namespace

#define MOUNT_OR_SKIP(variable, label)                                                             \
  auto variable = mountedImage(label);                                                             \
  if (!variable) {                                                                                 \
    GTEST_SKIP() << "cannot attach and mount a loop image: "                                       \
                 << LoopImage(folder_.path(), label).error();                                      \
  }

TEST_F(DiscoveryIntegrationTest, ListJsonShowsTheImageWithItsLabelSizeAndDiskImageFlag) {
  MOUNT_OR_SKIP(image, "VarneloTest");
  const auto entry = entryFor(listJson(), image->mountPath());
  ASSERT_TRUE(entry.has_value());
  EXPECT_EQ((*entry)["name"], "VarneloTest");
  EXPECT_EQ((*entry)["mountPath"], image->mountPath().string());
  EXPECT_FALSE((*entry)["sizeText"].get<std::string>().empty());
  EXPECT_EQ((*entry)["isDiskImage"], true);
  EXPECT_EQ((*entry)["isTimeMachine"], false);
}

TEST_F(DiscoveryIntegrationTest, ListJsonMarksAVolumeWithABackupFolderAsTimeMachine) {
  MOUNT_OR_SKIP(image, "Backups");
  std::filesystem::create_directory(image->mountPath() / "Backups.backupdb");
  const auto entry = entryFor(listJson(), image->mountPath());
  ASSERT_TRUE(entry.has_value());
  EXPECT_EQ((*entry)["isTimeMachine"], true);
}

TEST_F(DiscoveryIntegrationTest, LabelWithPercentAndBracesShowsVerbatim) {
  MOUNT_OR_SKIP(image, "Sale 50% {0}");
  const auto entry = entryFor(listJson(), image->mountPath());
  ASSERT_TRUE(entry.has_value());
  EXPECT_EQ((*entry)["name"], "Sale 50% {0}");
}

TEST_F(DiscoveryIntegrationTest, UnmountedImageIsGoneFromTheList) {
  MOUNT_OR_SKIP(image, "Leaving");
  ASSERT_TRUE(entryFor(listJson(), image->mountPath()).has_value());
  ASSERT_TRUE(image->unmountNow());
  EXPECT_FALSE(entryFor(listJson(), image->mountPath()).has_value());
}

TEST_F(DiscoveryIntegrationTest, ListTextGivesALinePerVolumeAndTheSummary) {
  MOUNT_OR_SKIP(image, "TextList");
  const auto result = discovery_test::runCommand({VARNELO_CLI_PATH, "list"});
  EXPECT_EQ(result.status, 0);
  EXPECT_NE(result.output.find("TextList\t"), std::string::npos) << result.output;
  EXPECT_NE(result.output.find("\tdisk-image\t" + image->mountPath().string() + "\n"),
            std::string::npos)
      << result.output;
  // The summary is the last line.
  ASSERT_GE(result.output.size(), 2u);
  EXPECT_EQ(result.output.back(), '\n');
  EXPECT_EQ(
      result.output.substr(result.output.rfind('\n', result.output.size() - 2) + 1).find('\t'),
      std::string::npos);
}

TEST_F(DiscoveryIntegrationTest, SourceAndDescriberSeeTheLoopDeviceAsAnEjectableDiskImage) {
  MOUNT_OR_SKIP(image, "Direct");
  LibmountVolumeSource source;
  LinuxDiskDescriber describer(source);
  const auto paths = source.mountedVolumePaths();
  ASSERT_TRUE(paths.has_value());
  EXPECT_NE(std::find(paths->begin(), paths->end(), image->mountPath().string()), paths->end());
  const auto values = source.resourceValues(image->mountPath().string());
  ASSERT_TRUE(values.has_value());
  EXPECT_EQ(values->volumeName, "Direct");
  EXPECT_EQ(values->isInternal, false);
  EXPECT_EQ(values->isEjectable, true);
  EXPECT_GT(values->totalCapacity.value_or(0), 0);
  const auto description = describer.describe(image->mountPath().string());
  ASSERT_TRUE(description.has_value());
  EXPECT_EQ(description->deviceModel, "Disk Image");
  EXPECT_EQ(description->deviceProtocol, "Virtual Interface");
}

TEST_F(DiscoveryIntegrationTest, LabelComesFromLibblkidWhenUdevKnowsNothing) {
  MOUNT_OR_SKIP(image, "NoUdev 1%");
  LibmountVolumeSource::Options options;
  options.useUdev = false;
  LibmountVolumeSource source(options);
  source.mountedVolumePaths();
  const auto values = source.resourceValues(image->mountPath().string());
  ASSERT_TRUE(values.has_value());
  EXPECT_EQ(values->volumeName, "NoUdev 1%");
}

TEST_F(DiscoveryIntegrationTest, DeviceThatUdevTellsToIgnoreIsHidden) {
  if (!udev_daemon::ensureRunning()) {
    GTEST_SKIP() << "udevd is not running and cannot be started here";
  }
  MOUNT_OR_SKIP(image, "Ignored");
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
  // By the image's own UUID, not the loop number: udevd may go on applying a removed rule for a
  // while, and the next test's image on the same number must not be hidden by it.
  const std::string uuid = udev_daemon::fileSystemUuid(image->device());
  ASSERT_FALSE(uuid.empty());
  std::ofstream(rule) << "ENV{ID_FS_UUID}==\"" << uuid << "\", ENV{UDISKS_IGNORE}=\"1\"\n";
  ASSERT_TRUE(udev_daemon::applyRulesUntil(image->device(), "UDISKS_IGNORE", "1"));
  LibmountVolumeSource source;
  const auto hidden = source.mountedVolumePaths();
  std::filesystem::remove(rule);
  ASSERT_TRUE(udev_daemon::applyRulesUntil(image->device(), "UDISKS_IGNORE", ""));

  ASSERT_TRUE(hidden.has_value());
  EXPECT_EQ(std::find(hidden->begin(), hidden->end(), image->mountPath().string()), hidden->end());
  const auto shown = source.mountedVolumePaths();
  ASSERT_TRUE(shown.has_value());
  EXPECT_NE(std::find(shown->begin(), shown->end(), image->mountPath().string()), shown->end());
}

TEST_F(DiscoveryIntegrationTest, EngineWithTheRealMonitorCallsOnChangeOncePerMount) {
  // Attached but not yet mounted: attaching changes no mount table.
  auto image = std::make_unique<LoopImage>(folder_.path(), "Watched");
  if (!image->error().empty()) {
    GTEST_SKIP() << "cannot attach and mount a loop image: " << image->error();
  }
  ASSERT_TRUE(image->unmountNow());
  // udev's first look at the new device would otherwise arrive after the mount, as a rename.
  udev_daemon::settle();

  LinuxPlatform platform;
  EjectEngine& engine = platform.engine(/*watchVolumes=*/true);
  int changes = 0;
  engine.setOnChange([&changes] { ++changes; });
  EXPECT_EQ(std::count_if(engine.volumes().begin(), engine.volumes().end(),
                          [&](const EjectableVolume& volume) {
                            return volume.id == image->mountPath().string();
                          }),
            0);

  // Runs the main queue until the predicate holds or the time is up.
  auto runFor = [&platform](std::chrono::milliseconds limit, std::function<bool()> done) {
    auto finished = std::make_shared<std::atomic<bool>>(false);
    LoopDispatcher& dispatcher = platform.dispatcher();
    dispatcher.runInBackground([&dispatcher, finished, limit] {
      const auto deadline = std::chrono::steady_clock::now() + limit;
      while (!*finished && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
      }
      dispatcher.runOnMain([finished] { *finished = true; });
    });
    dispatcher.runUntil([&] { return *finished || done(); });
    *finished = true;
  };

  ASSERT_TRUE(image->mountNow());
  runFor(3000ms, [&] { return changes >= 1; });
  runFor(500ms, [] { return false; });
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(std::count_if(engine.volumes().begin(), engine.volumes().end(),
                          [&](const EjectableVolume& volume) {
                            return volume.id == image->mountPath().string() &&
                                   volume.name == "Watched" && volume.isDiskImage;
                          }),
            1);
}
