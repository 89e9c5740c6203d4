#include "views/symbols.h"

#include <QApplication>

#include <gtest/gtest.h>

#include "views/palette.h"

TEST(Symbols, DrawOnlyInTheirTintAtTheSizeAskedAndNothingForUnknownNames) {
  for (const char* name : {"eject.fill", "externaldrive.fill", "opticaldisc.fill", "checkmark",
                           "gearshape.fill", "envelope.fill", "chevron.left"}) {
    const QImage image =
        Symbols::symbol(name, 15, QFont::Normal, Qt::red, 1).convertToFormat(QImage::Format_ARGB32);
    EXPECT_EQ(image.size(), QSize(18, 18)) << name;
    int inked = 0, offTint = 0;
    for (int y = 0; y < image.height(); ++y) {
      for (int x = 0; x < image.width(); ++x) {
        const QColor pixel = image.pixelColor(x, y);
        inked += pixel.alpha() > 0 ? 1 : 0;
        offTint += pixel.alpha() == 255 && pixel.rgb() != qRgb(255, 0, 0) ? 1 : 0;
      }
    }
    EXPECT_GT(inked, 10) << name;
    EXPECT_EQ(offTint, 0) << name;
  }
  // Twice the ratio, twice the pixels.
  EXPECT_EQ(Symbols::symbol("eject.fill", 16, QFont::Normal, Qt::black, 2).width(),
            Symbols::symbol("eject.fill", 32, QFont::Normal, Qt::black, 1).width());
  for (const char* name : {"no.such.symbol", "", "../icons/eject.fill"}) {
    EXPECT_TRUE(Symbols::symbol(name, 14).isNull()) << name;
  }
  EXPECT_TRUE(Symbols::symbol("eject.fill", 0).isNull());
}

TEST(Palette, AccentsAreLighterOnDarkWindowsSoTheyKeepTheirContrast) {
  const QPalette saved = QApplication::palette();
  QPalette dark = saved;
  dark.setColor(QPalette::Window, QColor(20, 20, 24));
  QApplication::setPalette(dark);
  const QColor darkMauve = varneloMauve();
  QApplication::setPalette(saved);
  EXPECT_GT(darkMauve.lightness(), varneloMauve().lightness());
  EXPECT_TRUE(varneloMark().has_value());
}
