// Volumes with awkward names in the tray menu: each shows as it is named (an "&" is no shortcut
// marker, a tab no shortcut column), and its item ejects that volume and no other. The real
// case runs on loop devices as root, without udisks2, so the program unmounts by itself.

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <QAction>
#include <QMenu>

#include "app/cli/linux_platform.h"
#include "core/localization.h"
#include "tests/app/app_rig.h"
#include "tests/platform/linux/discovery_test_volumes.h"
#include "tests/platform/linux/odd_volume.h"
#include "tests/support/environment_variable.h"
#include "tests/support/temporary_folder.h"

namespace {

std::string ejectItemFor(const std::string& name) {
  return L("eject.volume_action", name);
}

} // namespace

TEST(OddNamesTrayMenu, AmpersandsAndTabsShowAsTheyAreNamed) {
  AppRig rig;
  rig.engineRig.source.setVolumes({
      {"/media/user/Tom & Jerry", FakeVolumeSource::external("Tom & Jerry")},
      {"/media/user/Tab", FakeVolumeSource::external("Left\tRight")},
      {"/media/user/Lines", FakeVolumeSource::external("Two\nLines")},
  });
  rig.launch();
  const QMenu& menu = rig.openTrayMenu();

  EXPECT_NE(itemShowing(menu, ejectItemFor("Tom & Jerry")), nullptr);
  const QAction* tab = itemShowing(menu, ejectItemFor("Left Right"));
  ASSERT_NE(tab, nullptr);
  EXPECT_FALSE(tab->text().contains(QLatin1Char('\t')));
  EXPECT_NE(itemShowing(menu, ejectItemFor("Two Lines")), nullptr);
}

class OddNamesTrayMenuOnLoopDevices : public testing::Test {
 protected:
  void SetUp() override {
    if (!privateMounts_.error().empty()) {
      GTEST_SKIP() << privateMounts_.error();
    }
    std::string whyNot;
    volumes_ = odd_volume::createOddVolumes(folder_.path(), whyNot);
    if (volumes_.empty()) {
      GTEST_SKIP() << whyNot;
    }
  }

  bool listed(const std::filesystem::path& mountPath) {
    const auto& volumes = platform_->engine().volumes();
    return std::any_of(volumes.begin(), volumes.end(),
                       [&](const EjectableVolume& volume) { return volume.id == mountPath; });
  }

  discovery_test::PrivateMountNamespace privateMounts_;
  TemporaryFolder folder_;
  // No system bus: as root the program unmounts and detaches by itself.
  std::string noBusAddress_ = "unix:path=" + (folder_.path() / "no-bus").string();
  EnvironmentVariable noBus_{"DBUS_SYSTEM_BUS_ADDRESS", noBusAddress_.c_str()};
  std::vector<std::unique_ptr<odd_volume::OddVolume>> volumes_;
  std::unique_ptr<LinuxPlatform> platform_;
};

TEST_F(OddNamesTrayMenuOnLoopDevices, EachItemShowsItsNameAndEjectsOnlyItsVolume) {
  platform_ = std::make_unique<LinuxPlatform>();
  EjectEngine& engine = platform_->engine();
  AppRig rig;
  rig.updater = std::make_unique<Updater>(
      rig.transport, platform_->dispatcher(), SettingsStore::shared(), rig.alerts,
      UpdaterConfiguration{"https://updates.invalid/feed.json", "1.0.0", "/nonexistent"});
  rig.application = std::make_unique<Application>(Application::Services{
      .engine = engine,
      .alerts = rig.alerts,
      .display = rig.display,
      .codeSignature = rig.signature,
      .updater = *rig.updater,
      .supportClient = *rig.client,
      .launcherBadge = rig.badge,
      .loginItem = rig.loginItem,
      .installCrashReporter = {},
      .exitProcess = {},
      .environment = {},
      .systemLog = {},
      .openUrl = {},
      .endEventLoop = {},
  });

  const auto names = odd_volume::oddNames();
  for (std::size_t index = 0; index < names.size(); ++index) {
    SCOPED_TRACE(names[index].shown);
    ASSERT_TRUE(listed(volumes_[index]->mountPath()));
    const QMenu& menu = rig.openTrayMenu();
    for (std::size_t later = index; later < names.size(); ++later) {
      EXPECT_NE(itemShowing(menu, ejectItemFor(names[later].shown)), nullptr)
          << "missing from the menu: " << names[later].shown;
    }
    QAction* item = itemShowing(menu, ejectItemFor(names[index].shown));
    ASSERT_NE(item, nullptr);

    const std::size_t alertsBefore = rig.alerts.shown.size();
    item->trigger();
    platform_->dispatcher().runUntil([&] {
      return !listed(volumes_[index]->mountPath()) || rig.alerts.shown.size() > alertsBefore;
    });
    AppRig::flushEvents();
    EXPECT_EQ(rig.alerts.shown.size(), alertsBefore) << rig.alerts.shown.back().message;
    EXPECT_FALSE(volumes_[index]->mounted());
    EXPECT_TRUE(volumes_[index]->waitUntilDetached());
    for (std::size_t later = index + 1; later < names.size(); ++later) {
      EXPECT_TRUE(volumes_[later]->mounted()) << "also ejected: " << names[later].shown;
    }
  }
  for (const auto& volume : volumes_) {
    EXPECT_TRUE(volume->imageIntact()) << volume->mountPath();
  }
  rig.application.reset();
}
