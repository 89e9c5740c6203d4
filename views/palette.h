#pragma once

#include <optional>

#include <QByteArrayView>
#include <QColor>
#include <QFont>
#include <QImage>
#include <QPalette>
#include <QString>

class QLabel;
class QPaintDevice;
class QWidget;

// The accent colours, label colours and small drawing pieces every view shares.
// Main thread only, like the views that use them.

// A palette counts as dark when its window colour is darker than mid-grey (lightness < 128).
bool isDarkPalette(const QPalette& palette);
// The application's current palette.
bool isDarkAppearance();

// Accent colours resolved for a palette (the application's when none is given). Widgets that
// paint with them call these while painting, so a theme change is picked up on the next paint.
QColor varneloMauve();
QColor varneloMauve(const QPalette& palette);
QColor ejectBlue();
QColor ejectBlue(const QPalette& palette);

// The same in every theme. ejectBlueFixed is a third, brighter blue, not one of ejectBlue's two.
inline const QColor varneloMauveFixed = QColor::fromRgbF(0.486f, 0.227f, 0.929f);
inline const QColor ejectBlueFixed = QColor::fromRgbF(0.055f, 0.647f, 0.914f);

// Text colours: the palette's text colour, then the same at reduced opacity for secondary and
// tertiary text, as desktop themes rarely provide those roles themselves.
QColor labelColor(const QPalette& palette);
QColor labelColor();
QColor secondaryLabelColor(const QPalette& palette);
QColor secondaryLabelColor();
QColor tertiaryLabelColor(const QPalette& palette);
QColor tertiaryLabelColor();
QColor separatorColor(const QPalette& palette);

// The system font whose em height is `size` device-independent pixels on `device` (the primary
// screen when none). Sizes throughout the views are given in those pixels.
QFont systemFont(qreal size, QFont::Weight weight = QFont::Normal,
                 const QPaintDevice* device = nullptr);

// The text of a count badge: counts below 2 show as 1, larger ones in full.
QString quotaBadgeText(int count);
// A red disc of `diameter` device-independent pixels with the count in white bold at
// 0.68 x diameter. A devicePixelRatio of 0 uses the application's.
QImage quotaBadgeImage(int count, qreal diameter, qreal devicePixelRatio = 0);

// A centred, non-editable, non-selectable label; frame and placement are the caller's.
// A label's text colour, kept when the label is recoloured after a theme change.
void setLabelColor(QLabel* label, const QColor& color);

QLabel* makeLabel(const QString& text, qreal size, QFont::Weight weight, const QColor& color,
                  QWidget* parent = nullptr);

// The product mark (120 x 120), or nothing when the stored data does not decode.
std::optional<QImage> varneloMark();
// The decoding step of varneloMark(), for any base64 text.
std::optional<QImage> decodeMark(QByteArrayView base64);
