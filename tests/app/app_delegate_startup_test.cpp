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

TEST(AppLaunch, FirstLaunch_AsksOnceWithOnboardedAlreadyWritten) {
  AppRig rig;
  SettingsStore::shared().remove(AppDelegate::onboardedKey);
  bool onboardedWhileAsking = false;
  bool windowExistedWhileAsking = false;
  rig.alerts.setOnPresent([&](const Alert&) {
    onboardedWhileAsking = SettingsStore::shared().boolean(AppDelegate::onboardedKey);
    windowExistedWhileAsking = rig.delegate->mainWindow != nullptr;
  });
  rig.alerts.answer(1);
  rig.launch();

  ASSERT_THAT(rig.alerts.titles(), ElementsAre(L("onboarding.welcome_title")));
  EXPECT_THAT(rig.alerts.shown[0].buttons,
              ElementsAre(L("onboarding.dock_button"), L("onboarding.menubar_button")));
  EXPECT_TRUE(onboardedWhileAsking);
  EXPECT_TRUE(windowExistedWhileAsking);
  // The second button picks the tray: status item, window out of the taskbar but in front.
  EXPECT_TRUE(SettingsStore::shared().boolean(AppDelegate::menuBarModeKey));
  EXPECT_TRUE(rig.delegate->statusController.isEnabled());
  EXPECT_TRUE(isOutOfTaskbar(rig));
  EXPECT_TRUE(rig.delegate->mainWindow->isVisible());
  EXPECT_FALSE(QApplication::quitOnLastWindowClosed());

  // Next launch: no question.
  AppRig second;
  second.launch();
  EXPECT_TRUE(second.alerts.shown.empty());
}

TEST(AppLaunch, FirstLaunch_DockAnswerLeavesNoStatusItem) {
  AppRig rig;
  SettingsStore::shared().remove(AppDelegate::onboardedKey);
  rig.alerts.answer(0);
  rig.launch();
  EXPECT_FALSE(SettingsStore::shared().boolean(AppDelegate::menuBarModeKey));
  EXPECT_FALSE(rig.delegate->statusController.isEnabled());
  EXPECT_FALSE(isToolWindow(rig.delegate->mainWindow));
  EXPECT_FALSE(rig.display.keptOutOfTaskbar);
  EXPECT_TRUE(rig.delegate->mainWindow->isVisible());
  EXPECT_TRUE(QApplication::quitOnLastWindowClosed());
}

TEST(AppLaunch, FirstLaunch_DismissingTheQuestionChoosesDock) {
  AppRig rig;
  SettingsStore::shared().remove(AppDelegate::onboardedKey);
  rig.alerts.answer(-1);
  rig.launch();
  EXPECT_FALSE(SettingsStore::shared().boolean(AppDelegate::menuBarModeKey));
  EXPECT_FALSE(rig.delegate->statusController.isEnabled());
}

TEST(AppLaunch, MenuBarMode_WindowBuiltButHiddenAndOnlyTheStatusItemShows) {
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
}

TEST(AppLaunch, DockMode_WindowShownActivatedAndNoStatusItem) {
  AppRig rig;
  rig.launch();
  EXPECT_TRUE(rig.delegate->mainWindow->isVisible());
  EXPECT_FALSE(rig.delegate->statusController.isEnabled());
  EXPECT_GE(rig.display.activations, 1);
  // The content; a menu bar, when there is one, comes on top.
  EXPECT_EQ(rig.delegate->mainWindow->centralWidget()->size(), QSize(430, 589));
}

TEST(AppLaunch, FailingSignature_ExitsBeforeAnythingElse) {
  AppRig rig;
  rig.signature.setValid(false);
  rig.launch();
  ASSERT_TRUE(rig.exitStatus.has_value());
  EXPECT_NE(*rig.exitStatus, 0);
  EXPECT_EQ(rig.crashReporterInstalls, 0);
  EXPECT_EQ(rig.delegate->mainWindow, nullptr);
}

TEST(AppLaunch, CrashReporterComesAfterTheSignatureAndBeforeTheWindow) {
  AppRig rig;
  rig.make();
  bool windowExisted = true;
  // Installing the reporter is the second step: the signature was checked, no window yet.
  rig.delegate.reset();
  AppDelegate::Collaborators collaborators{
      *rig.engine,
      rig.alerts,
      rig.display,
      rig.signature,
      *rig.updater,
      [&]() {
        windowExisted = rig.delegate->mainWindow != nullptr;
        EXPECT_EQ(rig.signature.verifyCount(), 1);
      },
      [](int) {},
      [](const std::string&) { return std::optional<std::string>(); }};
  rig.delegate = std::make_unique<AppDelegate>(std::move(collaborators));
  rig.delegate->applicationDidFinishLaunching();
  EXPECT_FALSE(windowExisted);
}

TEST(AppLaunch, SetsHourlyUpdateChecksAndServerSync) {
  AppRig rig;
  rig.launch();
  EXPECT_EQ(rig.updater->updateCheckInterval(), 3600);
  EXPECT_TRUE(rig.delegate->serverSyncTimer.isActive());
  EXPECT_EQ(rig.delegate->serverSyncTimer.interval(), 3600 * 1000);
}

TEST(AppLaunch, DebugSettingsOpensTheSettingsViewOnlyForExactlyOne) {
  for (const auto& [value, opens] : std::vector<std::pair<std::string, bool>>{
           {"1", true}, {"true", false}, {"01", false}, {"", false}}) {
    AppRig rig;
    rig.environment[AppDelegate::debugSettingsVariable] = value;
    rig.launch();
    EXPECT_EQ(rig.delegate->settingsView->isVisible(), opens) << "value '" << value << "'";
    EXPECT_EQ(rig.delegate->mainView->isVisible(), !opens) << "value '" << value << "'";
  }
}

TEST(AppLaunch, RefreshesTheViewsFromTheEngine) {
  AppRig rig;
  rig.mount(true, true, false, false);
  rig.launch();
  EXPECT_TRUE(rig.delegate->ejectButton->isAvailableState());
  EXPECT_FALSE(rig.delegate->statusLabel->isHidden());
  EXPECT_EQ(rig.delegate->statusLabel->text().toStdString(),
            EjectEngine::resume(rig.engine->volumes()));
}

TEST(AppLaunch, NoVolumes_HidesTheSummaryAndGreysTheButton) {
  AppRig rig;
  rig.launch();
  EXPECT_FALSE(rig.delegate->ejectButton->isAvailableState());
  EXPECT_TRUE(rig.delegate->statusLabel->isHidden());
}

// --- display modes ---

TEST(DisplayMode, ClosingTheWindowInDockModeSwitchesToTheTray) {
  AppRig rig;
  rig.launch();
  rig.delegate->mainWindow->close();
  AppRig::flushEvents();
  EXPECT_TRUE(SettingsStore::shared().boolean(AppDelegate::menuBarModeKey));
  EXPECT_TRUE(rig.delegate->statusController.isEnabled());
  EXPECT_FALSE(rig.delegate->mainWindow->isVisible());
  EXPECT_TRUE(isToolWindow(rig.delegate->mainWindow));
  EXPECT_FALSE(QApplication::quitOnLastWindowClosed());
}

TEST(DisplayMode, ClosingTheWindowInTrayModeChangesNothing) {
  AppRig rig;
  SettingsStore::shared().set(AppDelegate::menuBarModeKey, true);
  rig.launch();
  rig.delegate->showMainWindow();
  rig.delegate->mainWindow->close();
  AppRig::flushEvents();
  EXPECT_TRUE(SettingsStore::shared().boolean(AppDelegate::menuBarModeKey));
  EXPECT_TRUE(rig.delegate->statusController.isEnabled());
  EXPECT_FALSE(rig.delegate->mainWindow->isVisible());
}

TEST(DisplayMode, CloseOrBackLeavesSettingsFirstThenClosesTheWindow) {
  AppRig rig;
  rig.launch();
  rig.delegate->showSettings();
  rig.delegate->closeOrBack();
  EXPECT_TRUE(rig.delegate->mainView->isVisible());
  EXPECT_TRUE(rig.delegate->mainWindow->isVisible());
  rig.delegate->closeOrBack();
  AppRig::flushEvents();
  EXPECT_FALSE(rig.delegate->mainWindow->isVisible());
  EXPECT_TRUE(SettingsStore::shared().boolean(AppDelegate::menuBarModeKey));
}

TEST(DisplayMode, ReopenBringsTheWindowBackOnlyInDockMode) {
  AppRig rig;
  SettingsStore::shared().set(AppDelegate::menuBarModeKey, true);
  rig.launch();
  EXPECT_TRUE(rig.delegate->applicationShouldHandleReopen(false));
  EXPECT_FALSE(rig.delegate->mainWindow->isVisible());

  SettingsStore::shared().set(AppDelegate::menuBarModeKey, false);
  EXPECT_TRUE(rig.delegate->applicationShouldHandleReopen(false));
  EXPECT_TRUE(rig.delegate->mainWindow->isVisible());
}

TEST(DisplayMode, TogglingOffAndOnKeepsExactlyOneStatusItem) {
  AppRig rig;
  SettingsStore::shared().set(AppDelegate::menuBarModeKey, true);
  rig.launch();
  SettingsStore::shared().set(AppDelegate::menuBarModeKey, false);
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

TEST(DisplayMode, WithoutATrayTheWindowStaysInTheTaskbarAndTheUserIsToldOnce) {
  AppRig rig;
  rig.display.trayAvailable = false;
  SettingsStore::shared().set(AppDelegate::menuBarModeKey, true);
  rig.launch();
  EXPECT_TRUE(rig.delegate->mainWindow->isVisible());
  EXPECT_FALSE(isToolWindow(rig.delegate->mainWindow));
  EXPECT_TRUE(QApplication::quitOnLastWindowClosed());
  rig.delegate->applyDisplayMode();
  AppRig::flushEvents();
  EXPECT_EQ(rig.alertsTitled(L("tray.unavailable_title")), 1);
  // Reopen still reaches the window.
  rig.delegate->mainWindow->hide();
  rig.delegate->applicationShouldHandleReopen(false);
  EXPECT_TRUE(rig.delegate->mainWindow->isVisible());
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

TEST(Tray, LeftClickEjectsAll) {
  AppRig rig;
  SettingsStore::shared().set(AppDelegate::menuBarModeKey, true);
  rig.mount(true, true, false, false);
  rig.launch();
  rig.delegate->statusController.clicked(QSystemTrayIcon::Trigger, Qt::NoModifier);
  rig.settle();
  EXPECT_THAT(rig.engineRig.ejector.ejectedPaths(),
              ElementsAre("/media/user/Photos", "/media/user/USB"));
  EXPECT_EQ(rig.delegate->statusController.openMenu(), nullptr);
}

TEST(Tray, RightAndControlClickOpenAFreshMenuAndLeaveNoneAttached) {
  AppRig rig;
  SettingsStore::shared().set(AppDelegate::menuBarModeKey, true);
  rig.mount(true, false, false, false);
  rig.launch();
  for (const auto& [reason, modifiers] :
       std::vector<std::pair<QSystemTrayIcon::ActivationReason, Qt::KeyboardModifiers>>{
           {QSystemTrayIcon::Context, Qt::NoModifier},
           {QSystemTrayIcon::Trigger, Qt::ControlModifier}}) {
    rig.delegate->statusController.clicked(reason, modifiers);
    QPointer<QMenu> menu = rig.delegate->statusController.openMenu();
    ASSERT_NE(menu, nullptr);
    ASSERT_FALSE(menu->actions().isEmpty());
    EXPECT_EQ(menu->actions().front()->text().toStdString(), L("eject.all_menu_item"));
    EXPECT_TRUE(menu->actions().front()->isEnabled());
    menu->hide();
    AppRig::flushEvents();
    EXPECT_EQ(menu, nullptr);
    EXPECT_FALSE(rig.delegate->statusController.isMenuAttached());
  }
  EXPECT_TRUE(rig.engineRig.ejector.ejectedPaths().empty());
}

TEST(Tray, IconFollowsTheVolumesColourAndTooltip) {
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

TEST(Tray, UnreadableStatusColourLeavesTheIconMonochrome) {
  AppRig rig;
  SettingsStore::shared().set(AppDelegate::menuBarModeKey, true);
  SettingsStore::shared().set(EjectSettings::statusColorKey, "not a colour");
  rig.mount(true, false, false, false);
  rig.launch();
  EXPECT_TRUE(rig.delegate->statusController.isTemplateIcon());
}

TEST(DisplayMode, ATrayThatAppearsLaterTakesOverWhenTheWindowCloses) {
  AppRig rig;
  rig.display.trayAvailable = false;
  SettingsStore::shared().set(AppDelegate::menuBarModeKey, true);
  rig.launch();
  ASSERT_TRUE(rig.delegate->mainWindow->isVisible());

  rig.display.trayAvailable = true;
  rig.delegate->mainWindow->close();
  AppRig::flushEvents();
  EXPECT_FALSE(QApplication::quitOnLastWindowClosed());
  EXPECT_FALSE(rig.delegate->mainWindow->isVisible());
  EXPECT_TRUE(isOutOfTaskbar(rig));
  EXPECT_TRUE(rig.delegate->statusController.isEnabled());
}
