#include "views/palette.h"

#include <functional>
#include <memory>

#include <QApplication>
#include <QLabel>

#include <gtest/gtest.h>

namespace {

QPalette paletteWithWindow(QColor window) {
  QPalette palette;
  palette.setColor(QPalette::Window, window);
  return palette;
}

void expectColor(const QColor& actual, double red, double green, double blue) {
  EXPECT_NEAR(actual.redF(), red, 0.002);
  EXPECT_NEAR(actual.greenF(), green, 0.002);
  EXPECT_NEAR(actual.blueF(), blue, 0.002);
  EXPECT_EQ(actual.alpha(), 255);
}

// Restores the application palette however the test ends.
class ApplicationPaletteGuard {
 public:
  ApplicationPaletteGuard() : saved_(QApplication::palette()) {}
  ~ApplicationPaletteGuard() { QApplication::setPalette(saved_); }

 private:
  QPalette saved_;
};

int countPixels(const QImage& source, const std::function<bool(QColor)>& matches) {
  const QImage image = source.convertToFormat(QImage::Format_ARGB32);
  int count = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      if (matches(image.pixelColor(x, y))) {
        ++count;
      }
    }
  }
  return count;
}

} // namespace

TEST(PaletteAccentColors, DarkWindowGivesTheDarkVariants) {
  const QPalette dark = paletteWithWindow(QColor(30, 30, 30));
  expectColor(varneloMauve(dark), 0.686, 0.573, 0.992);
  expectColor(ejectBlue(dark), 0.22, 0.741, 0.973);
}

TEST(PaletteAccentColors, LightWindowGivesTheLightVariants) {
  const QPalette light = paletteWithWindow(QColor(236, 236, 236));
  expectColor(varneloMauve(light), 0.486, 0.227, 0.929);
  expectColor(ejectBlue(light), 0.012, 0.412, 0.631);
}

TEST(PaletteAccentColors, DarknessThresholdIsMidGrey) {
  EXPECT_TRUE(isDarkPalette(paletteWithWindow(QColor(127, 127, 127))));
  EXPECT_FALSE(isDarkPalette(paletteWithWindow(QColor(128, 128, 128))));
}

TEST(PaletteAccentColors, FollowsTheApplicationPaletteAtEachCall) {
  ApplicationPaletteGuard guard;
  QApplication::setPalette(paletteWithWindow(QColor(20, 20, 24)));
  expectColor(varneloMauve(), 0.686, 0.573, 0.992);
  QApplication::setPalette(paletteWithWindow(QColor(250, 250, 250)));
  expectColor(varneloMauve(), 0.486, 0.227, 0.929);
}

TEST(PaletteAccentColors, FixedColorsIgnoreTheTheme) {
  ApplicationPaletteGuard guard;
  QApplication::setPalette(paletteWithWindow(QColor(20, 20, 24)));
  expectColor(varneloMauveFixed, 0.486, 0.227, 0.929);
  expectColor(ejectBlueFixed, 0.055, 0.647, 0.914);
  EXPECT_NE(ejectBlueFixed, ejectBlue());
}

TEST(PaletteLabelColors, SecondaryAndTertiaryFadeTheTextColour) {
  QPalette palette;
  palette.setColor(QPalette::WindowText, QColor(10, 20, 30));
  EXPECT_EQ(labelColor(palette), QColor(10, 20, 30));
  EXPECT_EQ(secondaryLabelColor(palette).rgb(), QColor(10, 20, 30).rgb());
  EXPECT_GT(secondaryLabelColor(palette).alpha(), tertiaryLabelColor(palette).alpha());
  EXPECT_LT(secondaryLabelColor(palette).alpha(), 255);
}

TEST(QuotaBadge, CountsBelowTwoShowOne) {
  EXPECT_EQ(quotaBadgeText(0), "1");
  EXPECT_EQ(quotaBadgeText(-5), "1");
  EXPECT_EQ(quotaBadgeText(1), "1");
  EXPECT_EQ(quotaBadgeText(2), "2");
  EXPECT_EQ(quotaBadgeText(12), "12");
  EXPECT_EQ(quotaBadgeText(1234), "1234");
}

TEST(QuotaBadge, RedDiscWithWhiteTextInsideTheDiameter) {
  const QImage badge = quotaBadgeImage(1, 14, 1);
  ASSERT_EQ(badge.size(), QSize(14, 14));
  const QImage pixels = badge.convertToFormat(QImage::Format_ARGB32);
  EXPECT_EQ(pixels.pixelColor(0, 0).alpha(), 0) << "corners stay outside the disc";
  const QColor edge = pixels.pixelColor(2, 7);
  EXPECT_GT(edge.red(), 200);
  EXPECT_LT(edge.green(), 100);
  const int white = countPixels(badge, [](QColor c) {
    return c.alpha() > 200 && c.red() > 200 && c.green() > 200 && c.blue() > 200;
  });
  EXPECT_GT(white, 3) << "the digit is drawn in white";
}

TEST(QuotaBadge, LongerCountsDrawMoreText) {
  auto white = [](QColor c) { return c.red() > 200 && c.green() > 170 && c.alpha() > 150; };
  EXPECT_GT(countPixels(quotaBadgeImage(88, 28, 1), white),
            countPixels(quotaBadgeImage(0, 28, 1), white));
  // Zero and one draw the very same badge.
  EXPECT_EQ(quotaBadgeImage(0, 14, 1), quotaBadgeImage(1, 14, 1));
}

TEST(QuotaBadge, HonoursTheDevicePixelRatio) {
  const QImage badge = quotaBadgeImage(3, 13, 2);
  EXPECT_EQ(badge.size(), QSize(26, 26));
  EXPECT_EQ(badge.devicePixelRatio(), 2);
  EXPECT_EQ(badge.deviceIndependentSize(), QSizeF(13, 13));
}

TEST(SystemFont, SizeIsInDeviceIndependentPixels) {
  QImage image(10, 10, QImage::Format_ARGB32);
  image.setDotsPerMeterY(3780); // 96 dpi
  const QFont font = systemFont(0.68 * 14, QFont::Bold, &image);
  EXPECT_NEAR(font.pointSizeF() * image.logicalDpiY() / 72.0, 9.52, 0.01);
  EXPECT_EQ(font.weight(), QFont::Bold);
}

TEST(MakeLabel, CentredNonEditableWithGivenFontAndColour) {
  std::unique_ptr<QLabel> label(
      makeLabel("Some longer text than usual", 13, QFont::DemiBold, QColor(200, 10, 10)));
  EXPECT_EQ(label->alignment(), Qt::AlignCenter);
  EXPECT_EQ(label->textInteractionFlags(), Qt::NoTextInteraction);
  EXPECT_EQ(label->font().weight(), QFont::DemiBold);
  EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(200, 10, 10));
  std::unique_ptr<QLabel> empty(makeLabel("", 11, QFont::Normal, Qt::black));
  EXPECT_EQ(empty->alignment(), Qt::AlignCenter);
}

TEST(VarneloMark, DecodesTo120By120WithTransparency) {
  const std::optional<QImage> mark = varneloMark();
  ASSERT_TRUE(mark.has_value());
  EXPECT_EQ(mark->size(), QSize(120, 120));
  EXPECT_TRUE(mark->hasAlphaChannel());
  const QImage pixels = mark->convertToFormat(QImage::Format_ARGB32);
  EXPECT_EQ(pixels.pixelColor(0, 0).alpha(), 0) << "rounded corners are transparent";
  const QColor body = pixels.pixelColor(60, 12);
  EXPECT_GT(body.blue(), body.green()) << "the square is mauve";
}

TEST(VarneloMark, CorruptedDataYieldsNothing) {
  EXPECT_FALSE(decodeMark("this is not base64 at all!").has_value());
  EXPECT_FALSE(decodeMark("aGVsbG8gd29ybGQ=").has_value()) << "valid base64 of text, not a PNG";
  EXPECT_FALSE(decodeMark("").has_value());
}
