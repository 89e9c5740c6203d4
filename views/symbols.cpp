#include "views/symbols.h"

#include <QFile>
#include <QGuiApplication>
#include <QHash>
#include <QPainter>
#include <QRegularExpression>
#include <QSvgRenderer>
#include <QtMath>

// The icons live in this static library; without a reference from code the linker would drop
// them. Must stay outside any namespace.
static void initIconResources() {
  Q_INIT_RESOURCE(icons);
}

namespace {

QString resourcePath(const QString& name) {
  return QStringLiteral(":/icons/%1.svg").arg(name);
}

// The SVG text, read once per name; empty when we have no such symbol.
const QByteArray& svgText(const QString& name) {
  static QHash<QString, QByteArray> cache;
  static const bool initialised = (initIconResources(), true);
  Q_UNUSED(initialised);
  auto found = cache.find(name);
  if (found == cache.end()) {
    QByteArray text;
    // Names never reach into other resources: only plain symbol names are looked up.
    if (!name.isEmpty() && !name.contains(QLatin1Char('/'))) {
      QFile file(resourcePath(name));
      if (file.open(QIODevice::ReadOnly)) {
        text = file.readAll();
      }
    }
    found = cache.insert(name, text);
  }
  return *found;
}

QByteArray weighted(const QByteArray& text, QFont::Weight weight) {
  if (weight == QFont::Normal || !text.contains("stroke-width")) {
    return text;
  }
  const double factor = 1.0 + (static_cast<int>(weight) - QFont::Normal) / 1000.0;
  static const QRegularExpression strokeWidth(QStringLiteral("stroke-width=\"([0-9.]+)\""));
  QString result = QString::fromUtf8(text);
  QString out;
  qsizetype last = 0;
  auto matches = strokeWidth.globalMatch(result);
  while (matches.hasNext()) {
    const auto match = matches.next();
    out += result.mid(last, match.capturedStart() - last);
    out += QStringLiteral("stroke-width=\"%1\"").arg(match.captured(1).toDouble() * factor);
    last = match.capturedEnd();
  }
  out += result.mid(last);
  return out.toUtf8();
}

} // namespace

bool Symbols::exists(const QString& name) {
  return !svgText(name).isEmpty();
}

qreal Symbols::side(qreal pointSize) {
  return pointSize * 1.2;
}

QImage Symbols::symbol(const QString& name, qreal pointSize, QFont::Weight weight,
                       const QColor& tint, qreal devicePixelRatio) {
  const QByteArray& text = svgText(name);
  if (text.isEmpty() || pointSize <= 0) {
    return {};
  }
  QSvgRenderer renderer(weighted(text, weight));
  if (!renderer.isValid()) {
    return {};
  }
  const qreal ratio = devicePixelRatio > 0 ? devicePixelRatio : qApp->devicePixelRatio();
  const int pixels = qMax(1, qCeil(side(pointSize) * ratio));
  QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  {
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter, QRectF(0, 0, pixels, pixels));
    if (tint.isValid()) {
      // Only the symbol's own pixels take the colour; its coverage becomes the colour's alpha.
      painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
      painter.fillRect(image.rect(), tint);
    }
  }
  image.setDevicePixelRatio(ratio);
  return image;
}

QPixmap Symbols::pixmap(const QString& name, qreal pointSize, QFont::Weight weight,
                        const QColor& tint, qreal devicePixelRatio) {
  const QImage image = symbol(name, pointSize, weight, tint, devicePixelRatio);
  return image.isNull() ? QPixmap() : QPixmap::fromImage(image);
}
