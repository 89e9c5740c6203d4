#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPalette>

#include "tests/app/app_rig.h"
#include "views/palette.h"

TEST(Theme, MainAndSettingsTextFollowASwitchBetweenLightAndDark) {
  const QPalette original = QApplication::palette();
  AppRig rig;
  rig.mount(true, false, false, false);
  rig.launch();
  const auto colourOf = [&](const QWidget* view, const char* name) {
    return childNamed<QLabel>(view, name)->palette().color(QPalette::WindowText);
  };
  QWidget* main = rig.delegate->mainView;
  QWidget* settings = rig.delegate->settingsView;

  QApplication::setPalette(darkPalette());
  AppRig::flushEvents();
  EXPECT_TRUE(isDarkAppearance());
  EXPECT_EQ(colourOf(main, "titleLabel"), labelColor());
  EXPECT_GT(colourOf(main, "titleLabel").lightness(), 128);
  EXPECT_EQ(rig.delegate->statusLabel->palette().color(QPalette::WindowText),
            secondaryLabelColor());
  EXPECT_GT(colourOf(settings, "settingsTitle").lightness(), 128);
  EXPECT_EQ(colourOf(settings, "versionLine"), labelColor());
  EXPECT_EQ(colourOf(settings, "makerLine"), secondaryLabelColor());

  QApplication::setPalette(original);
  AppRig::flushEvents();
  EXPECT_LT(colourOf(main, "titleLabel").lightness(), 128);
  EXPECT_EQ(colourOf(main, "subtitleLabel"), secondaryLabelColor());
  EXPECT_EQ(rig.delegate->statusLabel->palette().color(QPalette::WindowText),
            secondaryLabelColor());
  EXPECT_LT(colourOf(settings, "settingsTitle").lightness(), 128);
  EXPECT_EQ(colourOf(settings, "makerLine"), secondaryLabelColor());
}
