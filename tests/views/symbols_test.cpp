#include "views/symbols.h"

#include <QApplication>

#include <gtest/gtest.h>

namespace {

// Sum of alpha over the image, and the colours seen where it is opaque.
struct Ink {
  qint64 coverage = 0;
  bool onlyTint = true;
};

Ink inkOf(const QImage& source, QRgb tint) {
  const QImage image = source.convertToFormat(QImage::Format_ARGB32);
  Ink ink;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const QColor pixel = image.pixelColor(x, y);
      ink.coverage += pixel.alpha();
      ink.onlyTint = ink.onlyTint && (pixel.alpha() < 255 || pixel.rgb() == tint);
    }
  }
  return ink;
}

} // namespace

TEST(Symbols, EveryNamedSymbolDrawsInItsTintAtTheRequestedSize) {
  for (const char* name : {"eject.fill", "externaldrive.fill", "opticaldisc.fill", "checkmark",
                           "gearshape.fill", "envelope.fill", "chevron.left"}) {
    SCOPED_TRACE(name);
    const QImage image = Symbols::symbol(name, 15, QFont::Normal, Qt::red, 1);
    EXPECT_EQ(image.size(), QSize(18, 18));
    const Ink ink = inkOf(image, qRgb(255, 0, 0));
    EXPECT_GT(ink.coverage, 255 * 10);
    EXPECT_TRUE(ink.onlyTint);
  }
  EXPECT_TRUE(
      inkOf(Symbols::symbol("eject.fill", 30, QFont::Normal, QColor(), 1), qRgb(0, 0, 0)).onlyTint);
  // A half-transparent tint gives a half-opaque symbol; twice the ratio, twice the pixels.
  const QImage faint = Symbols::symbol("eject.fill", 30, QFont::Normal, QColor(0, 0, 255, 128), 1);
  EXPECT_NEAR(faint.convertToFormat(QImage::Format_ARGB32).pixelColor(18, 22).alpha(), 128, 2);
  const QImage sharp = Symbols::symbol("eject.fill", 16, QFont::Normal, Qt::black, 2);
  EXPECT_NEAR(sharp.deviceIndependentSize().width(), Symbols::side(16), 0.5);
  EXPECT_EQ(sharp.width(), Symbols::symbol("eject.fill", 32, QFont::Normal, Qt::black, 1).width());
}

TEST(Symbols, WeightThickensOnlyOutlinedSymbolsAndUnknownNamesOrSizesGiveNothing) {
  EXPECT_GT(inkOf(Symbols::symbol("checkmark", 30, QFont::Bold, QColor(), 1), 0).coverage,
            inkOf(Symbols::symbol("checkmark", 30, QFont::Light, QColor(), 1), 0).coverage);
  EXPECT_EQ(Symbols::symbol("eject.fill", 30, QFont::Bold, QColor(), 1),
            Symbols::symbol("eject.fill", 30, QFont::Light, QColor(), 1));
  for (const char* name : {"no.such.symbol", "../icons/eject.fill"}) {
    EXPECT_TRUE(Symbols::symbol(name, 14).isNull() && !Symbols::exists(name)) << name;
  }
  EXPECT_TRUE(Symbols::symbol("eject.fill", 0).isNull());
}
