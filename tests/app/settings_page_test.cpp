#include <gtest/gtest.h>

#include <QCheckBox>

#include "app/main_window.h"
#include "tests/app/app_rig.h"

// When the desktop will not take the autostart entry, the switch shows what will really happen.
TEST(SettingsPage, TheLoginSwitchFollowsTheAutostartEntryAndNotTheClickWhenWritingFails) {
  AppRig rig;
  Application& application = rig.launch();
  application.mainWindow()->showSettings();
  auto* login = application.mainWindow()->findChild<QCheckBox*>(QStringLiteral("loginCheckbox"));
  ASSERT_NE(login, nullptr);
  rig.loginItem.refuseWith("autostart: Read-only file system");
  login->click();
  EXPECT_FALSE(login->isChecked());
  rig.loginItem.refuseWith("");
  login->click();
  EXPECT_TRUE(login->isChecked());
  EXPECT_EQ(rig.loginItem.status(), LoginItemStatus::enabled);
}
