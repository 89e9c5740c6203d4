#include "views/palette.h"

#include <QApplication>

#include <gtest/gtest.h>

namespace {

QPalette withWindow(QColor window) {
  QPalette palette;
  palette.setColor(QPalette::Window, window);
  palette.setColor(QPalette::WindowText, window.lightness() < 128 ? Qt::white : Qt::black);
  return palette;
}

} // namespace

TEST(Palette, AccentsFollowTheThemeAndTheBadgeAndMarkDraw) {
  const QPalette saved = QApplication::palette();
  QApplication::setPalette(withWindow(QColor(20, 20, 24)));
  const QColor darkMauve = varneloMauve();
  EXPECT_TRUE(isDarkAppearance());
  QApplication::setPalette(withWindow(QColor(250, 250, 250)));
  // Lighter accents on dark windows, so they keep their contrast.
  EXPECT_GT(darkMauve.lightness(), varneloMauve().lightness());
  QApplication::setPalette(saved);
  EXPECT_TRUE(isDarkPalette(withWindow(QColor(127, 127, 127))));
  EXPECT_FALSE(isDarkPalette(withWindow(QColor(128, 128, 128))));

  EXPECT_EQ(quotaBadgeImage(3, 13, 2).size(), QSize(26, 26));
  ASSERT_TRUE(varneloMark().has_value());
}
