#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QMainWindow>
#include <QMenu>
#include <QSystemTrayIcon>

#include "core/localization.h"
#include "tests/app/app_rig.h"
#include "views/round_eject_button.h"

using testing::ElementsAre;

namespace {

bool isToolWindow(QWidget* window) {
  return window->windowType() == Qt::Tool;
}

// The tray-only window: a utility window the taskbar is asked to leave out.
bool isOutOfTaskbar(const AppRig& rig) {
  return isToolWindow(rig.delegate->mainWindow) && rig.display.keptOutOfTaskbar;
}

} // namespace

// --- launch order ---

TEST(AppLaunch, FirstLaunch_AsksOnceWithOnboardedWrittenAndOnlyTheSecondAnswerPicksTheTray) {
  for (const int answer : {1, 0, -1}) {
    SCOPED_TRACE(answer);
    const bool tray = answer == 1;
    AppRig rig;
    SettingsStore::shared().remove(AppDelegate::onboardedKey);
    bool onboardedWhileAsking = false;
    bool windowExistedWhileAsking = false;
    rig.alerts.setOnPresent([&](const Alert&) {
      onboardedWhileAsking = SettingsStore::shared().boolean(AppDelegate::onboardedKey);
      windowExistedWhileAsking = rig.delegate->mainWindow != nullptr;
    });
    rig.alerts.answer(answer);
    rig.launch();

    ASSERT_THAT(rig.alerts.titles(), ElementsAre(L("onboarding.welcome_title")));
    EXPECT_THAT(rig.alerts.shown[0].buttons,
                ElementsAre(L("onboarding.dock_button"), L("onboarding.menubar_button")));
    EXPECT_TRUE(onboardedWhileAsking);
    EXPECT_TRUE(windowExistedWhileAsking);
    // The tray: status item, window out of the taskbar but in front.
    EXPECT_EQ(SettingsStore::shared().boolean(AppDelegate::menuBarModeKey), tray);
    EXPECT_EQ(rig.delegate->statusController.isEnabled(), tray);
    EXPECT_EQ(isToolWindow(rig.delegate->mainWindow), tray);
    EXPECT_EQ(rig.display.keptOutOfTaskbar, tray);
    EXPECT_TRUE(rig.delegate->mainWindow->isVisible());
    EXPECT_EQ(QApplication::quitOnLastWindowClosed(), !tray);
  }
  // Next launch: no question.
  AppRig next;
  next.launch();
  EXPECT_TRUE(next.alerts.shown.empty());
}

TEST(AppLaunch, SignatureThenCrashReporterThenWindowAndAFailingSignatureExitsFirst) {
  for (const bool valid : {true, false}) {
    SCOPED_TRACE(valid);
    AppRig rig;
    rig.signature.setValid(valid);
    bool windowExisted = false;
    int verifiedBefore = 0;
    rig.onCrashReporterInstall = [&]() {
      windowExisted = rig.delegate->mainWindow != nullptr;
      verifiedBefore = rig.signature.verifyCount();
    };
    rig.launch();
    EXPECT_EQ(rig.exitStatus.has_value(), !valid);
    EXPECT_NE(rig.exitStatus.value_or(1), 0);
    EXPECT_EQ(rig.crashReporterInstalls, valid ? 1 : 0);
    EXPECT_FALSE(windowExisted);
    EXPECT_EQ(verifiedBefore, valid ? 1 : 0);
    EXPECT_EQ(rig.delegate->mainWindow != nullptr, valid);
  }
}

TEST(AppLaunch, DockMode_WindowShownActivatedWithTheEnginesVolumesAndNoStatusItem) {
  AppRig rig;
  rig.mount(true, true, false, false);
  rig.launch();
  EXPECT_TRUE(rig.delegate->mainWindow->isVisible());
  EXPECT_FALSE(rig.delegate->statusController.isEnabled());
  EXPECT_GE(rig.display.activations, 1);
  // The content; a menu bar, when there is one, comes on top.
  EXPECT_EQ(rig.delegate->mainWindow->centralWidget()->size(), QSize(430, 589));
  EXPECT_TRUE(rig.delegate->ejectButton->isAvailableState());
  EXPECT_FALSE(rig.delegate->statusLabel->isHidden());
  EXPECT_EQ(rig.delegate->statusLabel->text().toStdString(),
            EjectEngine::resume(rig.engine->volumes()));
  // Hourly update checks and server sync.
  EXPECT_EQ(rig.updater->updateCheckInterval(), 3600);
  EXPECT_TRUE(rig.delegate->serverSyncTimer.isActive());
  EXPECT_EQ(rig.delegate->serverSyncTimer.interval(), 3600 * 1000);
}

TEST(AppLaunch, DebugSettingsOpensTheSettingsViewOnlyForExactlyOne) {
  for (const auto& [value, opens] : std::vector<std::pair<std::string, bool>>{
           {"1", true}, {"true", false}, {"01", false}, {"", false}}) {
    SCOPED_TRACE("value '" + value + "'");
    AppRig rig;
    rig.environment[AppDelegate::debugSettingsVariable] = value;
    rig.launch();
    EXPECT_EQ(rig.delegate->settingsView->isVisible(), opens);
    EXPECT_EQ(rig.delegate->mainView->isVisible(), !opens);
  }
}

// --- display modes ---

TEST(DisplayMode, TrayMode_WindowHiddenUntilAskedForThenTogglingToDockAndBack) {
  AppRig rig;
  SettingsStore::shared().set(AppDelegate::menuBarModeKey, true);
  rig.mount(true, false, false, false);
  rig.launch();
  ASSERT_NE(rig.delegate->mainWindow, nullptr);
  EXPECT_FALSE(rig.delegate->mainWindow->isVisible());
  EXPECT_TRUE(isToolWindow(rig.delegate->mainWindow));
  EXPECT_TRUE(rig.delegate->statusController.isEnabled());
  EXPECT_FALSE(rig.delegate->statusController.isTemplateIcon());
  EXPECT_TRUE(rig.alerts.shown.empty());
  EXPECT_TRUE(rig.delegate->applicationShouldHandleReopen(false));
  EXPECT_FALSE(rig.delegate->mainWindow->isVisible());

  rig.delegate->showMainWindow();
  AppRig::flushEvents();
  EXPECT_TRUE(rig.delegate->mainWindow->isVisible());
  EXPECT_TRUE(rig.delegate->mainView->isVisible());
  EXPECT_EQ(rig.delegate->mainWindow->centralWidget()->size(), QSize(430, 589));
  rig.delegate->mainWindow->close();
  AppRig::flushEvents();
  EXPECT_TRUE(SettingsStore::shared().boolean(AppDelegate::menuBarModeKey));
  EXPECT_TRUE(rig.delegate->statusController.isEnabled());
  EXPECT_FALSE(rig.delegate->mainWindow->isVisible());

  // Reopen brings the window back in Dock mode; toggling keeps exactly one status item.
  SettingsStore::shared().set(AppDelegate::menuBarModeKey, false);
  EXPECT_TRUE(rig.delegate->applicationShouldHandleReopen(false));
  EXPECT_TRUE(rig.delegate->mainWindow->isVisible());
  rig.delegate->mainWindow->hide();
  rig.delegate->applyDisplayMode();
  AppRig::flushEvents();
  EXPECT_FALSE(rig.delegate->statusController.isEnabled());
  EXPECT_FALSE(isToolWindow(rig.delegate->mainWindow));
  EXPECT_FALSE(rig.display.keptOutOfTaskbar);
  EXPECT_TRUE(rig.delegate->mainWindow->isVisible());

  SettingsStore::shared().set(AppDelegate::menuBarModeKey, true);
  rig.delegate->applyDisplayMode();
  rig.delegate->applyDisplayMode();
  AppRig::flushEvents();
  EXPECT_TRUE(rig.delegate->statusController.isEnabled());
  EXPECT_EQ(rig.delegate->statusController.findChildren<QSystemTrayIcon*>().size(), 1);
  // Switching modes always leaves the window in front.
  EXPECT_TRUE(rig.delegate->mainWindow->isVisible());
  EXPECT_TRUE(isOutOfTaskbar(rig));
}

TEST(DisplayMode, WithoutATrayTheWindowStaysInTheTaskbarUntilATrayAppears) {
  AppRig rig;
  rig.display.trayAvailable = false;
  SettingsStore::shared().set(AppDelegate::menuBarModeKey, true);
  rig.launch();
  EXPECT_TRUE(rig.delegate->mainWindow->isVisible());
  EXPECT_FALSE(isToolWindow(rig.delegate->mainWindow));
  EXPECT_TRUE(QApplication::quitOnLastWindowClosed());
  // The user is told once.
  rig.delegate->applyDisplayMode();
  AppRig::flushEvents();
  EXPECT_EQ(rig.alertsTitled(L("tray.unavailable_title")), 1);
  // Reopen still reaches the window.
  rig.delegate->mainWindow->hide();
  rig.delegate->applicationShouldHandleReopen(false);
  EXPECT_TRUE(rig.delegate->mainWindow->isVisible());

  rig.display.trayAvailable = true;
  rig.delegate->mainWindow->close();
  AppRig::flushEvents();
  EXPECT_FALSE(QApplication::quitOnLastWindowClosed());
  EXPECT_FALSE(rig.delegate->mainWindow->isVisible());
  EXPECT_TRUE(isOutOfTaskbar(rig));
  EXPECT_TRUE(rig.delegate->statusController.isEnabled());
}

TEST(DisplayMode, WithoutATrayClosingInDockModeDoesNotStrandTheUser) {
  AppRig rig;
  rig.display.trayAvailable = false;
  rig.launch();
  rig.delegate->mainWindow->close();
  AppRig::flushEvents();
  EXPECT_FALSE(SettingsStore::shared().boolean(AppDelegate::menuBarModeKey));
  EXPECT_TRUE(QApplication::quitOnLastWindowClosed());
}

// --- the tray ---

// Which click does what is the status item's own business; here, that each reaches the shell.
TEST(Tray, ARightClickOpensTheStatusMenuAndALeftClickEjectsAll) {
  AppRig rig;
  SettingsStore::shared().set(AppDelegate::menuBarModeKey, true);
  rig.mount(true, true, false, false);
  rig.launch();
  StatusItemController& tray = rig.delegate->statusController;
  tray.clicked(QSystemTrayIcon::Context, Qt::NoModifier);
  QPointer<QMenu> menu = tray.openMenu();
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(menu->actions().size(),
            std::unique_ptr<QMenu>(rig.delegate->buildStatusMenu())->actions().size());
  EXPECT_EQ(menu->actions().front()->text().toStdString(), L("eject.all_menu_item"));
  EXPECT_TRUE(menu->actions().front()->isEnabled());
  menu->hide();
  AppRig::flushEvents();
  EXPECT_TRUE(rig.engineRig.ejector.ejectedPaths().empty());

  tray.clicked(QSystemTrayIcon::Trigger, Qt::NoModifier);
  rig.settle();
  EXPECT_THAT(rig.engineRig.ejector.ejectedPaths(),
              ElementsAre("/media/user/Photos", "/media/user/USB"));
}

TEST(Tray, IconAndTooltipFollowTheVolumes) {
  AppRig rig;
  SettingsStore::shared().set(AppDelegate::menuBarModeKey, true);
  rig.mount(true, false, false, false);
  rig.launch();
  StatusItemController& tray = rig.delegate->statusController;
  EXPECT_FALSE(tray.isTemplateIcon());
  EXPECT_EQ(tray.toolTip().toStdString(), EjectEngine::resume(rig.engine->volumes()));

  // The disk goes away: the mount monitor tells the engine, the engine tells the shell.
  rig.mount(false, false, false, false);
  rig.engineRig.monitor.fire();
  rig.settle();
  EXPECT_TRUE(tray.isTemplateIcon());
  EXPECT_EQ(tray.toolTip().toStdString(), L("eject.no_volumes"));
  EXPECT_FALSE(rig.delegate->ejectButton->isAvailableState());
}
