#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "core/localization.h"
#include "tests/app/app_rig.h"

using testing::ElementsAre;
using testing::ElementsAreArray;

namespace {

const std::string separator = "---";

// The menu as its visible item titles, separators as "---".
std::vector<std::string> titles(const QMenu& menu) {
  std::vector<std::string> result;
  for (QAction* action : menu.actions()) {
    if (action->isSeparator()) {
      result.push_back(separator);
    } else if (action->isVisible()) {
      result.push_back(action->text().toStdString());
    }
  }
  return result;
}

QMenu* topMenu(QMenuBar* bar, const std::string& title) {
  for (QAction* action : bar->actions()) {
    if (action->text().toStdString() == title) {
      return action->menu();
    }
  }
  return nullptr;
}

class Menus : public testing::Test {
 protected:
  std::unique_ptr<QMenu> statusMenu() {
    return std::unique_ptr<QMenu>(rig.delegate->buildStatusMenu());
  }

  // The volume section between "Eject all" and the items that never change.
  static std::vector<std::string> statusTitles(const std::vector<std::string>& volumes) {
    std::vector<std::string> items{L("eject.all_menu_item"), separator};
    for (const std::string& name : volumes)
      items.push_back(L("eject.volume_action", name));
    if (!volumes.empty())
      items.push_back(separator);
    for (const std::string& item : {L("menu.open_app"), separator, L("menu.check_updates"),
                                    L("menu.report_problem"), separator, L("menu.quit")})
      items.push_back(item);
    return items;
  }

  AppRig rig;
};

} // namespace

// --- status menu ---

TEST_F(Menus, StatusMenu_IsBuiltAfreshWithTheCurrentVolumesInTheEnginesOrderAndOpensTheWindow) {
  // Time Machine disks and disk images are listed whatever the settings.
  SettingsStore::shared().set(EjectSettings::protectTimeMachineKey, true);
  SettingsStore::shared().set(EjectSettings::ejectDiskImagesKey, false);
  SettingsStore::shared().set(AppDelegate::menuBarModeKey, true);
  rig.launch();
  ASSERT_FALSE(rig.delegate->mainWindow->isVisible());
  const auto empty = statusMenu();
  EXPECT_THAT(titles(*empty), ElementsAreArray(statusTitles({})));
  EXPECT_FALSE(empty->actions().front()->isEnabled());

  rig.mount(true, false, false, false);
  rig.engineRig.monitor.fire();
  rig.settle();
  const auto one = statusMenu();
  EXPECT_THAT(titles(*one), ElementsAreArray(statusTitles({"USB"})));
  EXPECT_TRUE(one->actions().front()->isEnabled());
  EXPECT_EQ(one->actions()[2]->data().toString().toStdString(), "/media/user/USB");

  rig.mount(true, true, true, true);
  rig.engineRig.monitor.fire();
  rig.settle();
  const auto four = statusMenu();
  EXPECT_THAT(titles(*four), ElementsAreArray(statusTitles({"Backups", "Image", "Photos", "USB"})));
  std::vector<std::string> ids;
  for (int index = 2; index < 6; ++index)
    ids.push_back(four->actions()[index]->data().toString().toStdString());
  std::vector<std::string> engineIds;
  for (const EjectableVolume& volume : rig.engine->volumes())
    engineIds.push_back(volume.id);
  EXPECT_EQ(ids, engineIds);

  // Open shows the window; Quit has its shortcut.
  actionTitled(*four, L("menu.open_app"))->trigger();
  AppRig::flushEvents();
  EXPECT_TRUE(rig.delegate->mainWindow->isVisible());
  EXPECT_EQ(actionTitled(*four, L("menu.quit"))->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
}

TEST_F(Menus, CheckForUpdatesFromEitherMenuOrTheSettingsAsksTheUpdaterInteractively) {
  rig.launch();
  const auto status = statusMenu();
  QMenu* application = topMenu(rig.delegate->mainMenu, L("app.name"));
  ASSERT_NE(application, nullptr);
  const std::vector<std::pair<std::string, std::function<void()>>> doors{
      {"status menu", [&] { actionTitled(*status, L("menu.check_updates"))->trigger(); }},
      {"main menu", [&] { actionTitled(*application, L("menu.check_updates"))->trigger(); }},
      {"settings", [&] {
         rig.delegate->showSettings();
         childNamed<QPushButton>(rig.delegate->settingsView, "checkUpdatesButton")->click();
       }}};
  for (const auto& [door, press] : doors) {
    SCOPED_TRACE(door);
    rig.alerts.shown.clear();
    QSignalSpy finished(rig.updater.get(), &Updater::checkFinished);
    press();
    rig.settle();
    EXPECT_EQ(finished.count(), 1);
    // A check the user asked for always answers, here with the failure of an unreachable feed.
    EXPECT_FALSE(rig.alerts.shown.empty());
  }
}

// --- main menu ---

TEST_F(Menus, MainMenu_ApplicationFileAndEditInThatOrder) {
  rig.launch();
  QMenuBar* bar = rig.delegate->mainWindow->menuBar();
  ASSERT_EQ(bar, rig.delegate->mainMenu.data());
  std::vector<std::string> tops;
  for (QAction* action : bar->actions())
    tops.push_back(action->text().toStdString());
  EXPECT_THAT(tops, ElementsAre(L("app.name"), L("menu.file"), L("menu.edit")));

  QMenu* application = topMenu(bar, L("app.name"));
  ASSERT_NE(application, nullptr);
  // The messages item exists but stays hidden until a message comes.
  EXPECT_THAT(titles(*application), ElementsAre(L("menu.check_updates"), L("menu.report_problem"),
                                                separator, L("menu.quit")));
  ASSERT_NE(rig.delegate->appMessagesItem, nullptr);
  EXPECT_FALSE(rig.delegate->appMessagesItem->isVisible());
  EXPECT_EQ(rig.delegate->appMessagesItem->text().toStdString(), L("messages.banner_title"));
  EXPECT_EQ(actionTitled(*application, L("menu.quit"))->shortcut(),
            QKeySequence(Qt::CTRL | Qt::Key_Q));

  QMenu* file = topMenu(bar, L("menu.file"));
  ASSERT_NE(file, nullptr);
  EXPECT_THAT(titles(*file), ElementsAre(L("menu.close")));
  EXPECT_EQ(file->actions().front()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_W));

  std::unique_ptr<QMenu> edit(AppDelegate::editMenuItem());
  EXPECT_EQ(edit->title().toStdString(), L("menu.edit"));
  EXPECT_THAT(titles(*edit), ElementsAre(L("edit.undo"), L("edit.redo"), separator, L("edit.cut"),
                                         L("edit.copy"), L("edit.paste"), L("edit.select_all")));
  std::vector<QKeySequence> shortcuts;
  for (QAction* action : edit->actions())
    if (!action->isSeparator())
      shortcuts.push_back(action->shortcut());
  EXPECT_THAT(shortcuts,
              ElementsAre(QKeySequence(Qt::CTRL | Qt::Key_Z),
                          QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z),
                          QKeySequence(Qt::CTRL | Qt::Key_X), QKeySequence(Qt::CTRL | Qt::Key_C),
                          QKeySequence(Qt::CTRL | Qt::Key_V), QKeySequence(Qt::CTRL | Qt::Key_A)));
}

TEST_F(Menus, MainMenu_EditActionsWorkOnlyOnTheFocusedTextFieldOfAnyWindow) {
  rig.launch();
  QMenu* edit = topMenu(rig.delegate->mainMenu, L("menu.edit"));
  ASSERT_NE(edit, nullptr);
  rig.delegate->mainWindow->setFocus();
  for (QAction* action : edit->actions())
    action->trigger(); // must not reach anything that is not a text field
  EXPECT_TRUE(rig.delegate->mainWindow->isVisible());

  // A field in a window of its own, as the reply field of the messages window.
  QWidget window;
  auto* field = new QLineEdit(QStringLiteral("hello"), &window);
  window.show();
  window.activateWindow();
  field->setFocus();
  ASSERT_TRUE(QTest::qWaitFor([&]() { return QApplication::focusWidget() == field; }));

  actionTitled(*edit, L("edit.select_all"))->trigger();
  EXPECT_EQ(field->selectedText(), QStringLiteral("hello"));
  actionTitled(*edit, L("edit.copy"))->trigger();
  EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("hello"));
  actionTitled(*edit, L("edit.cut"))->trigger();
  EXPECT_TRUE(field->text().isEmpty());
  actionTitled(*edit, L("edit.undo"))->trigger();
  EXPECT_EQ(field->text(), QStringLiteral("hello"));
  actionTitled(*edit, L("edit.redo"))->trigger();
  EXPECT_TRUE(field->text().isEmpty());
  actionTitled(*edit, L("edit.paste"))->trigger();
  actionTitled(*edit, L("edit.paste"))->trigger();
  EXPECT_EQ(field->text(), QStringLiteral("hellohello"));
}

TEST_F(Menus, MainMenu_CloseLeavesSettingsFirstThenClosesTheDockWindowIntoTheTray) {
  rig.launch();
  QAction* close = topMenu(rig.delegate->mainMenu, L("menu.file"))->actions().front();
  rig.delegate->showSettings();
  close->trigger();
  AppRig::flushEvents();
  EXPECT_TRUE(rig.delegate->mainView->isVisible());
  EXPECT_TRUE(rig.delegate->mainWindow->isVisible());
  EXPECT_FALSE(SettingsStore::shared().boolean(AppDelegate::menuBarModeKey));

  close->trigger();
  AppRig::flushEvents();
  EXPECT_FALSE(rig.delegate->mainWindow->isVisible());
  // Closing in Dock mode moves the application to the tray, and the switch says so.
  EXPECT_TRUE(SettingsStore::shared().boolean(AppDelegate::menuBarModeKey));
  EXPECT_TRUE(rig.delegate->statusController.isEnabled());
  EXPECT_EQ(rig.delegate->mainWindow->windowType(), Qt::Tool);
  EXPECT_FALSE(QApplication::quitOnLastWindowClosed());
  EXPECT_TRUE(rig.delegate->menuBarCheckbox->isChecked());
}
