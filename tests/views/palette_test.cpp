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

int whitePixels(const QImage& source) {
  const QImage image = source.convertToFormat(QImage::Format_ARGB32);
  int count = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const QColor c = image.pixelColor(x, y);
      count += c.alpha() > 150 && c.red() > 200 && c.green() > 170 ? 1 : 0;
    }
  }
  return count;
}

} // namespace

TEST(Palette, AccentsAndTextColoursFollowTheThemeAtEachCall) {
  const QPalette saved = QApplication::palette();
  QApplication::setPalette(withWindow(QColor(20, 20, 24)));
  const QColor darkMauve = varneloMauve();
  EXPECT_TRUE(isDarkAppearance());
  QApplication::setPalette(withWindow(QColor(250, 250, 250)));
  EXPECT_FALSE(isDarkAppearance());
  EXPECT_NE(varneloMauve(), darkMauve);
  // Lighter accents on dark windows, so they keep their contrast.
  EXPECT_GT(darkMauve.lightness(), varneloMauve().lightness());
  EXPECT_EQ(varneloMauveFixed, varneloMauve(withWindow(QColor(250, 250, 250))));
  QApplication::setPalette(saved);

  EXPECT_TRUE(isDarkPalette(withWindow(QColor(127, 127, 127))));
  EXPECT_FALSE(isDarkPalette(withWindow(QColor(128, 128, 128))));
  const QPalette light = withWindow(Qt::white);
  EXPECT_GT(secondaryLabelColor(light).alpha(), tertiaryLabelColor(light).alpha());
  EXPECT_LT(secondaryLabelColor(light).alpha(), 255);
}

TEST(Palette, CountBadgeShowsOneBelowTwoAndIsSharpAtEveryRatio) {
  struct Case {
    int count;
    const char* text;
  };
  for (const Case& test : {Case{-5, "1"}, Case{0, "1"}, Case{1, "1"}, Case{12, "12"}}) {
    EXPECT_EQ(quotaBadgeText(test.count), test.text);
  }
  EXPECT_EQ(quotaBadgeImage(0, 14, 1), quotaBadgeImage(1, 14, 1));
  EXPECT_GT(whitePixels(quotaBadgeImage(88, 28, 1)), whitePixels(quotaBadgeImage(1, 28, 1)));
  const QImage sharp = quotaBadgeImage(3, 13, 2);
  EXPECT_EQ(sharp.size(), QSize(26, 26));
  EXPECT_EQ(sharp.deviceIndependentSize(), QSizeF(13, 13));
  EXPECT_EQ(sharp.convertToFormat(QImage::Format_ARGB32).pixelColor(0, 0).alpha(), 0);
}

TEST(Palette, ProductMarkDecodesAndBadDataGivesNothing) {
  const std::optional<QImage> mark = varneloMark();
  ASSERT_TRUE(mark.has_value());
  EXPECT_EQ(mark->size(), QSize(120, 120));
  EXPECT_EQ(mark->convertToFormat(QImage::Format_ARGB32).pixelColor(0, 0).alpha(), 0);
  for (const char* bad : {"this is not base64 at all!", "aGVsbG8gd29ybGQ=", ""}) {
    EXPECT_FALSE(decodeMark(bad).has_value()) << bad;
  }
}
