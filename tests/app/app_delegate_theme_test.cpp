#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPalette>

#include "tests/app/app_rig.h"
#include "views/palette.h"

namespace {

QPalette darkPalette() {
  QPalette dark;
  dark.setColor(QPalette::Window, QColor(40, 40, 44));
  dark.setColor(QPalette::WindowText, QColor(235, 235, 240));
  dark.setColor(QPalette::Base, QColor(30, 30, 33));
  dark.setColor(QPalette::Text, QColor(235, 235, 240));
  return dark;
}

QColor textColour(const AppDelegate& delegate, const char* name) {
  return delegate.mainView->findChild<QLabel*>(QString::fromLatin1(name))
      ->palette()
      .color(QPalette::WindowText);
}

} // namespace

TEST(Theme, MainViewTextFollowsASwitchBetweenLightAndDark) {
  const QPalette original = QApplication::palette();
  AppRig rig;
  rig.mount(true, false, false, false);
  rig.launch();

  QApplication::setPalette(darkPalette());
  AppRig::flushEvents();
  EXPECT_EQ(textColour(*rig.delegate, "titleLabel"), labelColor());
  EXPECT_TRUE(isDarkAppearance());
  EXPECT_GT(textColour(*rig.delegate, "titleLabel").lightness(), 128);
  EXPECT_EQ(rig.delegate->statusLabel->palette().color(QPalette::WindowText),
            secondaryLabelColor());

  QApplication::setPalette(original);
  AppRig::flushEvents();
  EXPECT_LT(textColour(*rig.delegate, "titleLabel").lightness(), 128);
  EXPECT_EQ(textColour(*rig.delegate, "subtitleLabel"), secondaryLabelColor());
  EXPECT_EQ(rig.delegate->statusLabel->palette().color(QPalette::WindowText),
            secondaryLabelColor());
}
