// Ejection when things go wrong, end to end on real loop devices: a volume unmounted behind the
// program's back between listing and ejection, and no D-Bus for a process that is not root.
// Each failing volume gets a clear failure result, the rest of the batch is still ejected, and
// nothing on a volume whose ejection failed is touched.
// (Busy volumes, udisks2 refusing or never answering are covered next to the ejectors.)

#include <sys/mount.h>
#include <unistd.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/cli/linux_platform.h"
#include "core/eject_engine.h"
#include "core/eject_settings.h"
#include "core/localization.h"
#include "platform/linux/system_ejector.h"
#include "tests/platform/linux/discovery_test_volumes.h"
#include "tests/platform/linux/odd_volume.h"
#include "tests/support/temporary_folder.h"

namespace {

using odd_volume::OddVolume;

// The settings of this test process only: tests running beside it share the build's home.
void useOwnSettingsFolder() {
  static TemporaryFolder home;
  setenv("XDG_CONFIG_HOME", home.path().c_str(), 1);
}

class EjectFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    useOwnSettingsFolder();
    if (!privateMounts_.error().empty()) {
      GTEST_SKIP() << privateMounts_.error();
    }
    // eject-all takes every external volume: others are taken away in our private copy of the
    // mount table only.
    LinuxPlatform lister;
    for (const auto& volume : lister.engine().volumes()) {
      umount2(volume.id.c_str(), MNT_DETACH);
    }
    EjectSettings::setEjectDiskImages(true);
    for (const char* name : {"FaultA", "FaultB", "FaultC"}) {
      std::string whyNot;
      auto volume = OddVolume::create(folder_.path(), name, name, whyNot);
      if (!volume) {
        GTEST_SKIP() << whyNot;
      }
      volumes_.push_back(std::move(volume));
    }
  }

  // The engine over the real platform with this ejector; lists the three volumes at once.
  EjectEngine& engineWith(SystemEjector::Options options) {
    platform_.setEjector(std::make_unique<SystemEjector>(std::move(options)));
    return platform_.engine();
  }

  std::vector<EjectEngine::EjectResult> ejectAll(EjectEngine& engine) {
    std::optional<std::vector<EjectEngine::EjectResult>> results;
    engine.ejectAll([&](std::vector<EjectEngine::EjectResult> batch) { results = batch; });
    platform_.dispatcher().runUntil([&] { return results.has_value(); });
    return *results;
  }

  std::string noBus() const { return "unix:path=" + (folder_ / "no-bus").string(); }

  discovery_test::PrivateMountNamespace privateMounts_;
  TemporaryFolder folder_;
  std::vector<std::unique_ptr<OddVolume>> volumes_;
  LinuxPlatform platform_;
};

const EjectEngine::EjectResult* resultFor(const std::vector<EjectEngine::EjectResult>& results,
                                          const std::string& name) {
  for (const auto& result : results) {
    if (result.volume.name == name) {
      return &result;
    }
  }
  return nullptr;
}

} // namespace

TEST_F(EjectFaults, EjectAll_VolumeGoneBetweenListingAndEjection_FailsAloneAndIsLeftAsItIs) {
  SystemEjector::Options options;
  options.udisks.busAddress = noBus(); // root, no udisks2: the direct unmount
  EjectEngine& engine = engineWith(options);
  ASSERT_EQ(engine.volumes().size(), 3u);

  // Someone else unmounts FaultB after the list was made; its loop device stays attached.
  ASSERT_TRUE(volumes_[1]->unmountBehindTheBack());
  const auto results = ejectAll(engine);

  ASSERT_EQ(results.size(), 3u);
  const auto* gone = resultFor(results, "FaultB");
  ASSERT_NE(gone, nullptr);
  EXPECT_FALSE(gone->success);
  EXPECT_EQ(gone->message, L("eject.retained_message"));
  // Nothing was done to it: still attached, its file system clean and its file kept.
  EXPECT_TRUE(volumes_[1]->attached());
  EXPECT_TRUE(volumes_[1]->imageIntact());

  for (const std::size_t index : {0u, 2u}) {
    const auto* result = resultFor(results, index == 0 ? "FaultA" : "FaultC");
    ASSERT_NE(result, nullptr);
    EXPECT_TRUE(result->success);
    EXPECT_FALSE(volumes_[index]->mounted());
    EXPECT_TRUE(volumes_[index]->waitUntilDetached());
    EXPECT_TRUE(volumes_[index]->imageIntact());
  }
  EXPECT_TRUE(engine.volumes().empty());
}

TEST_F(EjectFaults, EjectAll_NoDbusAndNotRoot_EveryVolumeFailsClearlyAndStaysMounted) {
  SystemEjector::Options options;
  options.udisks.busAddress = noBus();
  options.isRoot = [] { return false; };
  EjectEngine& engine = engineWith(options);
  ASSERT_EQ(engine.volumes().size(), 3u);

  const auto results = ejectAll(engine);

  ASSERT_EQ(results.size(), 3u);
  for (const auto& result : results) {
    EXPECT_FALSE(result.success) << result.volume.name;
    EXPECT_EQ(result.message, L("eject.retained_message")) << result.volume.name;
  }
  for (const auto& volume : volumes_) {
    EXPECT_TRUE(volume->mounted()) << volume->mountPath();
    EXPECT_TRUE(volume->attached()) << volume->mountPath();
  }
  EXPECT_EQ(engine.volumes().size(), 3u);
}

TEST_F(EjectFaults, Eject_VolumeGoneBeforeTheCommand_TheProgramFailsAndTouchesNothing) {
  // The user asks the built program for a volume that someone else has unmounted meanwhile.
  ASSERT_TRUE(volumes_[0]->unmountBehindTheBack());
  const auto run =
      discovery_test::runCommand({"/usr/bin/env", "DBUS_SYSTEM_BUS_ADDRESS=" + noBus(),
                                  VARNELO_CLI_PATH, "eject", volumes_[0]->mountPath().string()});
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(volumes_[0]->attached());
  EXPECT_TRUE(volumes_[0]->imageIntact());
  EXPECT_TRUE(volumes_[1]->mounted());
  EXPECT_TRUE(volumes_[2]->mounted());
}
