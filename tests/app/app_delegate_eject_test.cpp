#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QAction>

#include "core/localization.h"
#include "tests/app/app_rig.h"
#include "views/round_eject_button.h"
#include "views/volume_list_view.h"

using testing::ElementsAre;
using testing::ElementsAreArray;
using testing::IsEmpty;

namespace {

// Asks for the Time Machine disk to be ejected from its row in the list.
void ejectBackupsRow(AppRig& rig) {
  for (const EjectableVolume& volume : rig.engine->volumes()) {
    if (volume.name == "Backups")
      rig.delegate->volumeList->onEjectRow(volume);
  }
  rig.settle();
}

class EjectCommands : public testing::Test {
 protected:
  AppRig rig;
};

} // namespace

// --- eject-all ---

TEST_F(EjectCommands, EjectAll_WithNothingToEjectSaysWhyOrDoesNothing) {
  struct Row {
    const char* name;
    bool image, timeMachine, ejectImages, protect;
    std::string message; // empty: no alert
    std::vector<std::string> ejected;
  };
  for (const Row& row :
       {Row{"nothing mounted", false, false, true, true, "", {}},
        Row{"only Time Machine", false, true, true, true, L("eject.only_time_machine_message"), {}},
        Row{"only an excluded image",
            true,
            false,
            false,
            true,
            L("eject.nothing_to_eject_message"),
            {}},
        Row{"both", true, true, false, true, L("eject.nothing_to_eject_message"), {}},
        Row{"protection off", false, true, true, false, "", {AppRig::timeMachineMount}}}) {
    SCOPED_TRACE(row.name);
    AppRig each;
    EjectSettings::setEjectDiskImages(row.ejectImages);
    EjectSettings::setProtectTimeMachine(row.protect);
    each.mount(false, false, row.image, row.timeMachine);
    each.launch();
    each.delegate->performEjectAll();
    if (row.message.empty()) {
      EXPECT_THAT(each.alerts.shown, IsEmpty());
    } else {
      // Said at once, before any ejection could have run.
      ASSERT_EQ(each.alerts.shown.size(), 1u);
      const Alert& alert = each.alerts.shown[0];
      EXPECT_EQ(alert.style, Alert::Style::informational);
      EXPECT_EQ(alert.title, L("eject.nothing_to_eject_title"));
      EXPECT_EQ(alert.message, row.message);
      EXPECT_THAT(alert.buttons, ElementsAre(L("messages.acknowledge_button")));
    }
    each.settle();
    EXPECT_THAT(each.engineRig.ejector.ejectedPaths(), ElementsAreArray(row.ejected));
    EXPECT_EQ(each.alerts.shown.size(), row.message.empty() ? 0u : 1u);
  }
}

TEST_F(EjectCommands, EjectAll_DisablesTheButtonWhileRunningThenFlashesOrAlertsInResultOrder) {
  for (const bool failing : {false, true}) {
    SCOPED_TRACE(failing);
    AppRig each;
    if (failing) {
      each.engineRig.ejector.setFailure("/media/user/Photos");
      each.engineRig.ejector.setFailure("/media/user/USB");
    }
    each.mount(true, true, false, false);
    each.launch();
    std::vector<bool> enabledDuringAlerts;
    each.alerts.setOnPresent([&](const Alert&) {
      enabledDuringAlerts.push_back(each.delegate->ejectButton->isEnabled());
    });
    each.delegate->ejectAllPressed();
    EXPECT_FALSE(each.delegate->ejectButton->isEnabled());
    each.settle();
    EXPECT_TRUE(each.delegate->ejectButton->isEnabled());
    EXPECT_EQ(each.delegate->ejectButton->isShowingCheck(), !failing);
    if (!failing) {
      EXPECT_THAT(each.alerts.shown, IsEmpty());
      continue;
    }
    EXPECT_THAT(each.alerts.titles(),
                ElementsAre(L("eject.failure_title", "Photos"), L("eject.failure_title", "USB")));
    for (const Alert& alert : each.alerts.shown) {
      EXPECT_EQ(alert.style, Alert::Style::warning);
      EXPECT_FALSE(alert.message.empty());
    }
    EXPECT_THAT(enabledDuringAlerts, ElementsAre(true, true));
  }
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

TEST_F(EjectCommands, CompletionAfterTheShellIsGoneDoesNothing) {
  rig.engineRig.ejector.setFailure("/media/user/USB");
  rig.mount(true, false, false, false);
  rig.launch();
  rig.delegate->performEjectAll();
  rig.delegate.reset();
  rig.settle();
  EXPECT_THAT(rig.alerts.shown, IsEmpty());
}

// --- one volume from the list ---

TEST_F(EjectCommands, Row_PlainVolumeIsEjectedWithoutQuestionAndAFailureLeavesTheButtonAlone) {
  rig.engineRig.ejector.setFailure("/media/user/Photos");
  rig.mount(true, true, false, false);
  rig.launch();
  for (const EjectableVolume& volume : rig.engine->volumes()) {
    rig.delegate->volumeList->onEjectRow(volume);
    EXPECT_TRUE(rig.delegate->ejectButton->isEnabled());
  }
  rig.settle();
  EXPECT_THAT(rig.alerts.titles(), ElementsAre(L("eject.failure_title", "Photos")));
  EXPECT_THAT(rig.engineRig.ejector.ejectedPaths(),
              ElementsAre("/media/user/Photos", "/media/user/USB"));
  EXPECT_FALSE(rig.delegate->ejectButton->isShowingCheck());
}

TEST_F(EjectCommands, Row_TimeMachineDuringBackupIsRefused) {
  rig.mount(false, false, false, true);
  rig.setBackupRunning(true);
  rig.launch();
  ejectBackupsRow(rig);
  ASSERT_EQ(rig.alerts.shown.size(), 1u);
  EXPECT_EQ(rig.alerts.shown[0].style, Alert::Style::critical);
  EXPECT_EQ(rig.alerts.shown[0].title, L("eject.backup_running_title"));
  EXPECT_EQ(rig.alerts.shown[0].message, L("eject.backup_running_message", "Backups"));
  EXPECT_THAT(rig.engineRig.ejector.ejectedPaths(), IsEmpty());
}

TEST(EjectTimeMachineRow, IsEjectedOnlyWhenTheConfirmationIsAcceptedWhateverTheProtection) {
  // Cancelled with the backup state unknown, dismissed, then accepted with protection off.
  for (const auto& [running, answer, ejected] :
       std::vector<std::tuple<std::optional<bool>, int, bool>>{
           {std::nullopt, 1, false}, {false, -1, false}, {false, 0, true}}) {
    SCOPED_TRACE(answer);
    AppRig rig;
    EjectSettings::setProtectTimeMachine(!ejected);
    rig.mount(false, false, false, true);
    rig.setBackupRunning(running);
    rig.launch();
    rig.alerts.answer(answer);
    ejectBackupsRow(rig);
    ASSERT_EQ(rig.alerts.shown.size(), 1u);
    EXPECT_EQ(rig.alerts.shown[0].title, L("eject.time_machine_confirm_title", "Backups"));
    EXPECT_THAT(rig.alerts.shown[0].buttons,
                ElementsAre(L("eject.time_machine_confirm_button"), L("common.cancel")));
    EXPECT_EQ(rig.engineRig.ejector.ejectedPaths(),
              ejected ? std::vector<std::string>{AppRig::timeMachineMount}
                      : std::vector<std::string>{});
  }
}

// --- one volume from the status menu ---

TEST_F(EjectCommands, StatusMenu_EjectsTheChosenVolumeWithoutQuestionsEvenDuringABackup) {
  rig.mount(true, true, false, true);
  rig.setBackupRunning(true);
  rig.launch();
  std::unique_ptr<QMenu> menu(rig.delegate->buildStatusMenu());
  for (const char* name : {"Photos", "Backups"}) {
    QAction* item = actionTitled(*menu, L("eject.volume_action", name));
    ASSERT_NE(item, nullptr) << name;
    item->trigger();
  }
  rig.settle();
  EXPECT_THAT(rig.alerts.shown, IsEmpty());
  EXPECT_THAT(rig.engineRig.ejector.ejectedPaths(),
              ElementsAre("/media/user/Photos", AppRig::timeMachineMount));
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
