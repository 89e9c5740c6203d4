#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPixmap>
#include <QString>

// Our own symbol set ("eject.fill", "externaldrive.fill", "opticaldisc.fill", "checkmark",
// "gearshape.fill", "envelope.fill", "chevron.left"), drawn as single-colour SVGs on a
// 24 x 24 grid and compiled into the program.
//
// A symbol of point size p is rendered into a square of 1.2 x p device-independent pixels,
// so that the glyph itself (which spans about 20 of the 24 grid units) is p pixels tall.
// Weight thickens or thins the outlined symbols (check mark, chevron) by scaling their stroke;
// the filled symbols have no stroke and look the same at every weight.
class Symbols {
 public:
  Symbols() = delete;

  // The symbol tinted with `tint` (black when invalid), at the given device pixel ratio
  // (0: the application's). A name we do not have gives a null image.
  static QImage symbol(const QString& name, qreal pointSize, QFont::Weight weight = QFont::Normal,
                       const QColor& tint = QColor(), qreal devicePixelRatio = 0);
  static QPixmap pixmap(const QString& name, qreal pointSize, QFont::Weight weight = QFont::Normal,
                        const QColor& tint = QColor(), qreal devicePixelRatio = 0);

  static bool exists(const QString& name);
  // Side length in device-independent pixels of a symbol of that point size.
  static qreal side(qreal pointSize);
};
