#include "views/symbols.h"

#include <cmath>

#include <QApplication>

#include <gtest/gtest.h>

namespace {

const char* const allSymbols[] = {"eject.fill",  "externaldrive.fill", "opticaldisc.fill",
                                  "checkmark",   "gearshape.fill",     "envelope.fill",
                                  "chevron.left"};

qint64 coverage(const QImage& source) {
  const QImage image = source.convertToFormat(QImage::Format_ARGB32);
  qint64 total = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      total += qAlpha(image.pixel(x, y));
    }
  }
  return total;
}

} // namespace

TEST(Symbols, EveryNamedSymbolRendersAtTheRequestedSize) {
  for (const char* name : allSymbols) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(Symbols::exists(name));
    const QImage image = Symbols::symbol(name, 15, QFont::Normal, QColor(), 1);
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), QSize(18, 18));
    EXPECT_GT(coverage(image), 0) << "something is drawn";
  }
}

TEST(Symbols, UnknownNamesGiveANullImage) {
  EXPECT_TRUE(Symbols::symbol("no.such.symbol", 14).isNull());
  EXPECT_TRUE(Symbols::symbol("", 14).isNull());
  EXPECT_TRUE(Symbols::symbol("../icons/eject.fill", 14).isNull());
  EXPECT_TRUE(Symbols::pixmap("no.such.symbol", 14).isNull());
  EXPECT_FALSE(Symbols::exists("no.such.symbol"));
}

TEST(Symbols, NonPositiveSizeGivesANullImage) {
  EXPECT_TRUE(Symbols::symbol("eject.fill", 0).isNull());
  EXPECT_TRUE(Symbols::symbol("eject.fill", -3).isNull());
}

TEST(Symbols, TintColoursOnlyTheSymbolsPixels) {
  const QImage image = Symbols::symbol("eject.fill", 20, QFont::Normal, QColor(255, 0, 0), 1)
                           .convertToFormat(QImage::Format_ARGB32);
  int opaque = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const QColor pixel = image.pixelColor(x, y);
      if (pixel.alpha() == 255) {
        ++opaque;
        EXPECT_EQ(pixel.rgb(), qRgb(255, 0, 0));
      }
    }
  }
  EXPECT_GT(opaque, 20);
  EXPECT_EQ(image.pixelColor(0, 0).alpha(), 0) << "the background stays transparent";
}

TEST(Symbols, UntintedSymbolsAreBlack) {
  const QImage image = Symbols::symbol("envelope.fill", 20, QFont::Normal, QColor(), 1)
                           .convertToFormat(QImage::Format_ARGB32);
  const QColor centre = image.pixelColor(image.width() / 2, image.height() * 3 / 4);
  EXPECT_EQ(centre.alpha(), 255);
  EXPECT_EQ(centre.rgb(), qRgb(0, 0, 0));
}

TEST(Symbols, TintAlphaBecomesTheSymbolsOpacity) {
  const QImage image = Symbols::symbol("eject.fill", 20, QFont::Normal, QColor(0, 0, 0, 128), 1)
                           .convertToFormat(QImage::Format_ARGB32);
  int maximum = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      maximum = std::max(maximum, qAlpha(image.pixel(x, y)));
    }
  }
  EXPECT_NEAR(maximum, 128, 2);
}

TEST(Symbols, DevicePixelRatioScalesPixelsNotLogicalSize) {
  const QImage image = Symbols::symbol("checkmark", 16, QFont::Normal, Qt::white, 2);
  EXPECT_EQ(image.devicePixelRatio(), 2);
  EXPECT_EQ(image.width(), static_cast<int>(std::ceil(16 * 1.2 * 2)));
  EXPECT_NEAR(image.deviceIndependentSize().width(), 16 * 1.2, 0.5);
}

TEST(Symbols, WeightThickensOutlinedSymbolsOnly) {
  EXPECT_GT(coverage(Symbols::symbol("checkmark", 30, QFont::Bold, QColor(), 1)),
            coverage(Symbols::symbol("checkmark", 30, QFont::Normal, QColor(), 1)));
  EXPECT_EQ(Symbols::symbol("eject.fill", 30, QFont::Bold, QColor(), 1),
            Symbols::symbol("eject.fill", 30, QFont::Normal, QColor(), 1));
}
