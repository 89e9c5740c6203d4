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

TEST(Palette, AccentsAndTextColoursFollowTheThemeAtEachCall) {
  const QPalette saved = QApplication::palette();
  QApplication::setPalette(withWindow(QColor(20, 20, 24)));
  const QColor darkMauve = varneloMauve();
  EXPECT_TRUE(isDarkAppearance());
  QApplication::setPalette(withWindow(QColor(250, 250, 250)));
  EXPECT_FALSE(isDarkAppearance());
  // Lighter accents on dark windows, so they keep their contrast.
  EXPECT_GT(darkMauve.lightness(), varneloMauve().lightness());
  EXPECT_EQ(varneloMauveFixed, varneloMauve(withWindow(QColor(250, 250, 250))));
  QApplication::setPalette(saved);
}

TEST(Palette, BadgeIsSharpAtEveryRatioAndTheProductMarkDecodes) {
  const QImage sharp = quotaBadgeImage(1, 13, 2);
  EXPECT_EQ(sharp.size(), QSize(26, 26));
  EXPECT_EQ(sharp.deviceIndependentSize(), QSizeF(13, 13));
  EXPECT_EQ(sharp.convertToFormat(QImage::Format_ARGB32).pixelColor(0, 0).alpha(), 0);
  const std::optional<QImage> mark = varneloMark();
  ASSERT_TRUE(mark.has_value());
  EXPECT_EQ(mark->size(), QSize(120, 120));
  EXPECT_EQ(mark->convertToFormat(QImage::Format_ARGB32).pixelColor(0, 0).alpha(), 0);
}
