#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>
#include <QTest>

#include "core/localization.h"
#include "core/support/support_client.h"
#include "platform/fake/fake_login_item.h"
#include "tests/app/app_rig.h"

using testing::ElementsAre;
using testing::ElementsAreArray;

namespace {

const std::string separator = "---";

// The menu as its item titles, separators as "---".
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

QAction* actionTitled(const QMenu& menu, const std::string& title) {
  for (QAction* action : menu.actions()) {
    if (action->text().toStdString() == title) {
      return action;
    }
  }
  return nullptr;
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
  void SetUp() override { SupportClient::shared().pendingMessage.reset(); }
  void TearDown() override { SupportClient::shared().pendingMessage.reset(); }

  AppDelegate& launch() {
    rig.make();
    rig.delegate->loginItemService = &loginItem;
    rig.delegate->applicationDidFinishLaunching();
    AppRig::flushEvents();
    return *rig.delegate;
  }

  std::unique_ptr<QMenu> statusMenu() {
    return std::unique_ptr<QMenu>(launched().buildStatusMenu());
  }

  AppDelegate& launched() { return rig.delegate ? *rig.delegate : launch(); }

  // Everything after the volume section, which never changes.
  static std::vector<std::string> tail(bool pendingMessage) {
    std::vector<std::string> items;
    if (pendingMessage)
      items.push_back(L("messages.banner_title"));
    for (const std::string& item : {L("menu.open_app"), separator, L("menu.check_updates"),
                                    L("menu.report_problem"), separator, L("menu.quit")})
      items.push_back(item);
    return items;
  }

  static std::vector<std::string> joined(std::vector<std::string> head,
                                         const std::vector<std::string>& rest) {
    head.insert(head.end(), rest.begin(), rest.end());
    return head;
  }

  AppRig rig;
  FakeLoginItem loginItem;
};

} // namespace

// --- status menu ---

TEST_F(Menus, StatusMenu_NoVolumesHasOneSeparatorAndADisabledEjectAll) {
  const auto menu = statusMenu();
  EXPECT_THAT(titles(*menu),
              ElementsAreArray(joined({L("eject.all_menu_item"), separator}, tail(false))));
  EXPECT_FALSE(menu->actions().front()->isEnabled());
}

TEST_F(Menus, StatusMenu_OneVolumeIsListedBetweenTwoSeparators) {
  rig.mount(true, false, false, false);
  const auto menu = statusMenu();
  EXPECT_THAT(titles(*menu), ElementsAreArray(joined({L("eject.all_menu_item"), separator,
                                                      L("eject.volume_action", "USB"), separator},
                                                     tail(false))));
  EXPECT_TRUE(menu->actions().front()->isEnabled());
  EXPECT_EQ(menu->actions()[2]->data().toString().toStdString(), "/media/user/USB");
}

TEST_F(Menus, StatusMenu_ThreeVolumesInTheEnginesOrderCarryTheirIds) {
  rig.mount(true, true, true, false);
  const auto menu = statusMenu();
  EXPECT_THAT(titles(*menu),
              ElementsAreArray(joined(
                  {L("eject.all_menu_item"), separator, L("eject.volume_action", "Image"),
                   L("eject.volume_action", "Photos"), L("eject.volume_action", "USB"), separator},
                  tail(false))));
  std::vector<std::string> ids;
  for (int index = 2; index < 5; ++index)
    ids.push_back(menu->actions()[index]->data().toString().toStdString());
  std::vector<std::string> engineIds;
  for (const EjectableVolume& volume : rig.engine->volumes())
    engineIds.push_back(volume.id);
  EXPECT_EQ(ids, engineIds);
}

TEST_F(Menus, StatusMenu_TimeMachineAndImagesAreListedWhateverTheSettings) {
  SettingsStore::shared().set(EjectSettings::protectTimeMachineKey, true);
  SettingsStore::shared().set(EjectSettings::ejectDiskImagesKey, false);
  rig.mount(false, false, true, true);
  const auto menu = statusMenu();
  EXPECT_NE(actionTitled(*menu, L("eject.volume_action", "Backups")), nullptr);
  EXPECT_NE(actionTitled(*menu, L("eject.volume_action", "Image")), nullptr);
}

TEST_F(Menus, StatusMenu_PendingMessageAddsABadgedItemAboveOpen) {
  launch();
  SupportClient::shared().pendingMessage = SupportClient::PendingMessage{7, "Hello"};
  const auto menu = statusMenu();
  EXPECT_THAT(titles(*menu),
              ElementsAreArray(joined({L("eject.all_menu_item"), separator}, tail(true))));
  QAction* message = actionTitled(*menu, L("messages.banner_title"));
  ASSERT_NE(message, nullptr);
  EXPECT_FALSE(message->icon().isNull());

  // Without it, the next opening has no such item.
  SupportClient::shared().pendingMessage.reset();
  const auto later = statusMenu();
  EXPECT_EQ(actionTitled(*later, L("messages.banner_title")), nullptr);
}

TEST_F(Menus, StatusMenu_IsBuiltAfreshFromTheCurrentVolumes) {
  launch();
  const auto before = statusMenu();
  rig.mount(true, true, false, false);
  rig.engineRig.monitor.fire();
  rig.settle();
  const auto after = statusMenu();
  EXPECT_EQ(titles(*before).size() + 3, titles(*after).size());
  EXPECT_NE(before.get(), after.get());
}

TEST_F(Menus, StatusMenu_OpenShowsTheWindowAndQuitEndsTheEventLoop) {
  SettingsStore::shared().set(AppDelegate::menuBarModeKey, true);
  launch();
  ASSERT_FALSE(rig.delegate->mainWindow->isVisible());
  const auto menu = statusMenu();
  actionTitled(*menu, L("menu.open_app"))->trigger();
  AppRig::flushEvents();
  EXPECT_TRUE(rig.delegate->mainWindow->isVisible());
  EXPECT_EQ(actionTitled(*menu, L("menu.quit"))->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
}

TEST_F(Menus, StatusMenu_CheckForUpdatesAsksTheUpdaterInteractively) {
  launch();
  QSignalSpy finished(rig.updater.get(), &Updater::checkFinished);
  const auto menu = statusMenu();
  actionTitled(*menu, L("menu.check_updates"))->trigger();
  rig.settle();
  EXPECT_EQ(finished.count(), 1);
  // A check the user asked for always answers, here with the failure of an unreachable feed.
  EXPECT_FALSE(rig.alerts.shown.empty());
}

// --- main menu ---

TEST_F(Menus, MainMenu_ApplicationFileAndEditInThatOrder) {
  launch();
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
}

TEST_F(Menus, MainMenu_EditItemsAndTheirShortcuts) {
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

TEST_F(Menus, MainMenu_EditActionsWorkOnTheFocusedFieldOfAnyWindow) {
  launch();
  QMenu* edit = topMenu(rig.delegate->mainMenu, L("menu.edit"));
  ASSERT_NE(edit, nullptr);
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

TEST_F(Menus, MainMenu_EditActionsWithoutATextFieldDoNothing) {
  launch();
  QMenu* edit = topMenu(rig.delegate->mainMenu, L("menu.edit"));
  rig.delegate->mainWindow->setFocus();
  for (QAction* action : edit->actions())
    action->trigger(); // must not reach anything that is not a text field
  EXPECT_TRUE(rig.delegate->mainWindow->isVisible());
}

TEST_F(Menus, MainMenu_CloseGoesBackFromSettingsThenClosesTheWindow) {
  launch();
  QAction* close = topMenu(rig.delegate->mainMenu, L("menu.file"))->actions().front();
  rig.delegate->showSettings();
  close->trigger();
  EXPECT_TRUE(rig.delegate->mainView->isVisible());
  EXPECT_TRUE(rig.delegate->mainWindow->isVisible());
  close->trigger();
  AppRig::flushEvents();
  EXPECT_FALSE(rig.delegate->mainWindow->isVisible());
}
