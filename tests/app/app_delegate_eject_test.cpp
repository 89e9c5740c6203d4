#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QAction>

#include "core/localization.h"
#include "tests/app/app_rig.h"
#include "views/round_eject_button.h"
#include "views/volume_list_view.h"

using testing::ElementsAre;
using testing::IsEmpty;

namespace {

const EjectableVolume* volumeNamed(const EjectEngine& engine, const std::string& name) {
  for (const EjectableVolume& volume : engine.volumes()) {
    if (volume.name == name) {
      return &volume;
    }
  }
  return nullptr;
}

} // namespace

class EjectCommands : public testing::Test {
 protected:
  AppRig rig;
};

// --- eject-all ---

TEST_F(EjectCommands, EjectAll_NothingMountedDoesNothing) {
  rig.launch();
  rig.delegate->performEjectAll();
  rig.settle();
  EXPECT_THAT(rig.alerts.shown, IsEmpty());
  EXPECT_THAT(rig.engineRig.ejector.ejectedPaths(), IsEmpty());
}

TEST_F(EjectCommands, EjectAll_OnlyTimeMachineProtectedSaysSo) {
  rig.mount(false, false, false, true);
  rig.launch();
  ASSERT_TRUE(rig.engine->volumes().at(0).isTimeMachine);
  rig.delegate->performEjectAll();
  ASSERT_EQ(rig.alerts.shown.size(), 1u);
  const Alert& alert = rig.alerts.shown[0];
  EXPECT_EQ(alert.style, Alert::Style::informational);
  EXPECT_EQ(alert.title, L("eject.nothing_to_eject_title"));
  EXPECT_EQ(alert.message, L("eject.only_time_machine_message"));
  EXPECT_THAT(alert.buttons, ElementsAre(L("messages.acknowledge_button")));
  rig.settle();
  EXPECT_THAT(rig.engineRig.ejector.ejectedPaths(), IsEmpty());
}

TEST_F(EjectCommands, EjectAll_OnlyAnExcludedDiskImageSaysNothingToEject) {
  EjectSettings::setEjectDiskImages(false);
  rig.mount(false, false, true, false);
  rig.launch();
  rig.delegate->performEjectAll();
  ASSERT_EQ(rig.alerts.shown.size(), 1u);
  EXPECT_EQ(rig.alerts.shown[0].message, L("eject.nothing_to_eject_message"));
}

TEST_F(EjectCommands, EjectAll_TimeMachineAndExcludedImageUseTheGeneralWording) {
  EjectSettings::setEjectDiskImages(false);
  rig.mount(false, false, true, true);
  rig.launch();
  rig.delegate->performEjectAll();
  ASSERT_EQ(rig.alerts.shown.size(), 1u);
  EXPECT_EQ(rig.alerts.shown[0].message, L("eject.nothing_to_eject_message"));
}

TEST_F(EjectCommands, EjectAll_ProtectionOffEjectsTimeMachineWithoutAsking) {
  EjectSettings::setProtectTimeMachine(false);
  rig.mount(false, false, false, true);
  rig.launch();
  rig.delegate->performEjectAll();
  rig.settle();
  EXPECT_THAT(rig.alerts.shown, IsEmpty());
  EXPECT_THAT(rig.engineRig.ejector.ejectedPaths(), ElementsAre(AppRig::timeMachineMount));
}

TEST_F(EjectCommands, EjectAll_DisablesTheButtonWhileRunningAndFlashesWhenAllSucceed) {
  rig.mount(true, true, false, false);
  rig.launch();
  rig.delegate->ejectAllPressed();
  EXPECT_FALSE(rig.delegate->ejectButton->isEnabled());
  rig.settle();
  EXPECT_TRUE(rig.delegate->ejectButton->isEnabled());
  EXPECT_TRUE(rig.delegate->ejectButton->isShowingCheck());
  EXPECT_THAT(rig.alerts.shown, IsEmpty());
}

TEST_F(EjectCommands, EjectAll_TwoFailuresGiveTwoAlertsInResultOrderWithTheButtonBack) {
  rig.engineRig.ejector.setFailure("/media/user/Photos");
  rig.engineRig.ejector.setFailure("/media/user/USB");
  rig.mount(true, true, false, false);
  rig.launch();
  std::vector<bool> enabledDuringAlerts;
  rig.alerts.setOnPresent(
      [&](const Alert&) { enabledDuringAlerts.push_back(rig.delegate->ejectButton->isEnabled()); });
  rig.delegate->performEjectAll();
  rig.settle();

  EXPECT_THAT(rig.alerts.titles(),
              ElementsAre(L("eject.failure_title", "Photos"), L("eject.failure_title", "USB")));
  for (const Alert& alert : rig.alerts.shown) {
    EXPECT_EQ(alert.style, Alert::Style::warning);
    EXPECT_FALSE(alert.message.empty());
  }
  EXPECT_THAT(enabledDuringAlerts, ElementsAre(true, true));
  EXPECT_FALSE(rig.delegate->ejectButton->isShowingCheck());
}

TEST_F(EjectCommands, EjectAll_FailureAlertsRefreshTheList) {
  rig.engineRig.ejector.setFailure("/media/user/USB");
  rig.mount(true, true, false, false);
  rig.launch();
  // Photos leaves during the ejection; USB stays.
  rig.engineRig.ejector.setOnEject([&](const std::string& path) {
    if (path == "/media/user/Photos") {
      rig.engineRig.source.removeVolume(path);
    }
  });
  rig.delegate->performEjectAll();
  rig.settle();
  ASSERT_EQ(rig.delegate->volumeList->rows().size(), 1);
  EXPECT_EQ(rig.delegate->statusLabel->text().toStdString(),
            EjectEngine::resume(rig.engine->volumes()));
}

// --- one volume from the list ---

TEST_F(EjectCommands, Row_PlainVolumeIsEjectedWithoutQuestion) {
  rig.mount(true, false, false, false);
  rig.launch();
  rig.delegate->volumeList->onEjectRow(rig.engine->volumes().at(0));
  rig.settle();
  EXPECT_THAT(rig.alerts.shown, IsEmpty());
  EXPECT_THAT(rig.engineRig.ejector.ejectedPaths(), ElementsAre("/media/user/USB"));
}

TEST_F(EjectCommands, Row_TimeMachineDuringBackupIsRefused) {
  rig.mount(false, false, false, true);
  rig.setBackupRunning(true);
  rig.launch();
  rig.delegate->volumeList->onEjectRow(*volumeNamed(*rig.engine, "Backups"));
  rig.settle();
  ASSERT_EQ(rig.alerts.shown.size(), 1u);
  EXPECT_EQ(rig.alerts.shown[0].style, Alert::Style::critical);
  EXPECT_EQ(rig.alerts.shown[0].title, L("eject.backup_running_title"));
  EXPECT_EQ(rig.alerts.shown[0].message, L("eject.backup_running_message", "Backups"));
  EXPECT_THAT(rig.engineRig.ejector.ejectedPaths(), IsEmpty());
}

TEST_F(EjectCommands, Row_TimeMachineWithUnknownBackupStateAsksAndCancelEjectsNothing) {
  rig.mount(false, false, false, true);
  rig.setBackupRunning(std::nullopt);
  rig.launch();
  rig.alerts.answer(1);
  rig.delegate->volumeList->onEjectRow(*volumeNamed(*rig.engine, "Backups"));
  rig.settle();
  ASSERT_EQ(rig.alerts.shown.size(), 1u);
  const Alert& alert = rig.alerts.shown[0];
  EXPECT_EQ(alert.title, L("eject.time_machine_confirm_title", "Backups"));
  EXPECT_THAT(alert.buttons,
              ElementsAre(L("eject.time_machine_confirm_button"), L("common.cancel")));
  EXPECT_THAT(rig.engineRig.ejector.ejectedPaths(), IsEmpty());
}

TEST_F(EjectCommands, Row_TimeMachineDismissedConfirmationEjectsNothing) {
  rig.mount(false, false, false, true);
  rig.setBackupRunning(false);
  rig.launch();
  rig.alerts.answer(-1);
  rig.delegate->volumeList->onEjectRow(*volumeNamed(*rig.engine, "Backups"));
  rig.settle();
  EXPECT_THAT(rig.engineRig.ejector.ejectedPaths(), IsEmpty());
}

TEST_F(EjectCommands, Row_TimeMachineConfirmedIsEjectedEvenWithProtectionOff) {
  EjectSettings::setProtectTimeMachine(false);
  rig.mount(false, false, false, true);
  rig.setBackupRunning(false);
  rig.launch();
  rig.alerts.answer(0);
  rig.delegate->volumeList->onEjectRow(*volumeNamed(*rig.engine, "Backups"));
  rig.settle();
  EXPECT_EQ(rig.alertsTitled(L("eject.time_machine_confirm_title", "Backups")), 1);
  EXPECT_THAT(rig.engineRig.ejector.ejectedPaths(), ElementsAre(AppRig::timeMachineMount));
}

TEST_F(EjectCommands, Row_FailureShowsOneAlertAndLeavesTheButtonAlone) {
  rig.engineRig.ejector.setFailure("/media/user/USB");
  rig.mount(true, false, false, false);
  rig.launch();
  rig.delegate->volumeList->onEjectRow(rig.engine->volumes().at(0));
  EXPECT_TRUE(rig.delegate->ejectButton->isEnabled());
  rig.settle();
  EXPECT_THAT(rig.alerts.titles(), ElementsAre(L("eject.failure_title", "USB")));
  EXPECT_FALSE(rig.delegate->ejectButton->isShowingCheck());
}

// --- one volume from the status menu ---

TEST_F(EjectCommands, StatusMenu_TimeMachineIsEjectedWithoutConfirmation) {
  rig.mount(false, false, false, true);
  rig.setBackupRunning(true);
  rig.launch();
  QAction item;
  item.setData(QString::fromStdString(AppRig::timeMachineMount));
  rig.delegate->ejectOnePressed(&item);
  rig.settle();
  EXPECT_THAT(rig.alerts.shown, IsEmpty());
  EXPECT_THAT(rig.engineRig.ejector.ejectedPaths(), ElementsAre(AppRig::timeMachineMount));
}

TEST_F(EjectCommands, StatusMenu_VanishedOrMissingVolumeIsIgnored) {
  rig.mount(true, false, false, false);
  rig.launch();
  QAction gone;
  gone.setData(QStringLiteral("/media/user/Gone"));
  rig.delegate->ejectOnePressed(&gone);
  QAction empty;
  rig.delegate->ejectOnePressed(&empty);
  rig.delegate->ejectOnePressed(nullptr);
  rig.settle();
  EXPECT_THAT(rig.alerts.shown, IsEmpty());
  EXPECT_THAT(rig.engineRig.ejector.ejectedPaths(), IsEmpty());
}

TEST_F(EjectCommands, StatusMenu_ListsEveryVolumeAndEjectsTheChosenOne) {
  rig.mount(true, true, false, false);
  rig.launch();
  std::unique_ptr<QMenu> menu(rig.delegate->buildStatusMenu());
  QAction* photos = nullptr;
  for (QAction* action : menu->actions()) {
    if (action->text().toStdString() == L("eject.volume_action", "Photos")) {
      photos = action;
    }
  }
  ASSERT_NE(photos, nullptr);
  photos->trigger();
  rig.settle();
  EXPECT_THAT(rig.engineRig.ejector.ejectedPaths(), ElementsAre("/media/user/Photos"));
}

TEST_F(EjectCommands, CompletionAfterTheShellIsGoneDoesNothing) {
  rig.engineRig.ejector.setFailure("/media/user/USB");
  rig.mount(true, false, false, false);
  rig.launch();
  rig.delegate->performEjectAll();
  rig.delegate.reset();
  rig.settle();
  EXPECT_THAT(rig.alerts.shown, IsEmpty());
}
