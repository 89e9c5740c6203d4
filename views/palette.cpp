#include "views/palette.h"

#include <QApplication>
#include <QLabel>
#include <QPaintDevice>
#include <QPainter>
#include <QScreen>
#include <QtMath>

#include "views/varnelo_mark_data.h"

namespace {

QColor resolved(const QPalette& palette, QColor light, QColor dark) {
  return isDarkPalette(palette) ? dark : light;
}

QColor withAlpha(QColor color, qreal alpha) {
  color.setAlphaF(static_cast<float>(alpha));
  return color;
}

// The desktop's red for alerts, close to what other toolkits use for badges.
const QColor systemRed = QColor::fromRgbF(1.0f, 0.231f, 0.188f);

} // namespace

bool isDarkPalette(const QPalette& palette) {
  return palette.color(QPalette::Window).lightness() < 128;
}

bool isDarkAppearance() {
  return isDarkPalette(QApplication::palette());
}

QColor varneloMauve(const QPalette& palette) {
  return resolved(palette, QColor::fromRgbF(0.486f, 0.227f, 0.929f),
                  QColor::fromRgbF(0.686f, 0.573f, 0.992f));
}

QColor varneloMauve() {
  return varneloMauve(QApplication::palette());
}

QColor ejectBlue(const QPalette& palette) {
  return resolved(palette, QColor::fromRgbF(0.012f, 0.412f, 0.631f),
                  QColor::fromRgbF(0.22f, 0.741f, 0.973f));
}

QColor ejectBlue() {
  return ejectBlue(QApplication::palette());
}

QColor labelColor(const QPalette& palette) {
  return palette.color(QPalette::WindowText);
}
QColor labelColor() {
  return labelColor(QApplication::palette());
}

QColor secondaryLabelColor(const QPalette& palette) {
  return withAlpha(labelColor(palette), 0.55);
}
QColor secondaryLabelColor() {
  return secondaryLabelColor(QApplication::palette());
}

QColor tertiaryLabelColor(const QPalette& palette) {
  return withAlpha(labelColor(palette), 0.35);
}
QColor tertiaryLabelColor() {
  return tertiaryLabelColor(QApplication::palette());
}

QColor separatorColor(const QPalette& palette) {
  return withAlpha(labelColor(palette), 0.12);
}

QFont systemFont(qreal size, QFont::Weight weight, const QPaintDevice* device) {
  qreal dpi = 96;
  if (device != nullptr) {
    dpi = device->logicalDpiY();
  } else if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    dpi = screen->logicalDotsPerInchY();
  }
  QFont font = QApplication::font();
  font.setPointSizeF(size * 72.0 / (dpi > 0 ? dpi : 96));
  font.setWeight(weight);
  return font;
}

QString quotaBadgeText(int count) {
  return QString::number(count < 2 ? 1 : count);
}

QImage quotaBadgeImage(int count, qreal diameter, qreal devicePixelRatio) {
  const qreal ratio = devicePixelRatio > 0 ? devicePixelRatio : qApp->devicePixelRatio();
  const int side = qMax(1, qCeil(diameter * ratio));
  QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
  image.setDevicePixelRatio(ratio);
  image.fill(Qt::transparent);

  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::TextAntialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(systemRed);
  painter.drawEllipse(QRectF(0, 0, diameter, diameter));

  painter.setFont(systemFont(0.68 * diameter, QFont::Bold, &image));
  painter.setPen(Qt::white);
  painter.drawText(QRectF(0, 0, diameter, diameter), Qt::AlignCenter | Qt::TextDontClip,
                   quotaBadgeText(count));
  return image;
}

void setLabelColor(QLabel* label, const QColor& color) {
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, color);
  palette.setColor(QPalette::Text, color);
  label->setPalette(palette);
}

QLabel* makeLabel(const QString& text, qreal size, QFont::Weight weight, const QColor& color,
                  QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setFont(systemFont(size, weight));
  setLabelColor(label, color);
  label->setAlignment(Qt::AlignCenter);
  label->setTextInteractionFlags(Qt::NoTextInteraction);
  label->setTextFormat(Qt::PlainText);
  return label;
}

std::optional<QImage> decodeMark(QByteArrayView base64) {
  const auto decoded =
      QByteArray::fromBase64Encoding(base64.toByteArray(), QByteArray::AbortOnBase64DecodingErrors);
  if (!decoded) {
    return std::nullopt;
  }
  QImage image;
  if (!image.loadFromData(*decoded, "PNG")) {
    return std::nullopt;
  }
  return image;
}

std::optional<QImage> varneloMark() {
  return decodeMark(QByteArrayView(varneloMarkBase64));
}
