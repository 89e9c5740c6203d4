#include "views/round_eject_button.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QTimer>

#include "views/palette.h"
#include "views/symbols.h"

namespace {

constexpr qreal shadowBlur = 8;
constexpr qreal shadowOffsetY = 2; // downwards
constexpr int flashMilliseconds = 1100;
constexpr qreal iconGap = 8;

const QColor gradientTop = QColor::fromRgbF(0.22f, 0.741f, 0.973f);
const QColor gradientBottom = QColor::fromRgbF(0.012f, 0.412f, 0.631f);
// The desktop-neutral grey used for the inert look.
const QColor systemGrey = QColor::fromRgbF(0.557f, 0.557f, 0.576f, 0.3f);

QPainterPath capsule(const QRectF& rect) {
  QPainterPath path;
  const qreal radius = rect.height() / 2;
  path.addRoundedRect(rect, radius, radius);
  return path;
}

// One horizontal then one vertical box-blur pass over the alpha of a premultiplied image.
void boxBlurPass(QImage& image, int radius, bool horizontal) {
  if (radius < 1) {
    return;
  }
  const int width = image.width();
  const int height = image.height();
  const int lines = horizontal ? height : width;
  const int length = horizontal ? width : height;
  std::vector<int> source(static_cast<size_t>(length));
  const int window = 2 * radius + 1;
  for (int line = 0; line < lines; ++line) {
    auto pixel = [&](int i) -> QRgb& {
      const int x = horizontal ? i : line;
      const int y = horizontal ? line : i;
      return reinterpret_cast<QRgb*>(image.scanLine(y))[x];
    };
    for (int i = 0; i < length; ++i) {
      source[static_cast<size_t>(i)] = qAlpha(pixel(i));
    }
    int sum = 0;
    for (int i = -radius; i <= radius; ++i) {
      if (i >= 0 && i < length) {
        sum += source[static_cast<size_t>(i)];
      }
    }
    for (int i = 0; i < length; ++i) {
      const int alpha = sum / window;
      pixel(i) = qRgba(0, 0, 0, alpha);
      const int leaving = i - radius;
      const int entering = i + radius + 1;
      if (leaving >= 0) {
        sum -= source[static_cast<size_t>(leaving)];
      }
      if (entering < length) {
        sum += source[static_cast<size_t>(entering)];
      }
    }
  }
}

} // namespace

RoundEjectButton::RoundEjectButton(QWidget* parent) : QAbstractButton(parent) {
  setFocusPolicy(Qt::StrongFocus);
  setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Fixed);
  scheduler_ = [](int delayMs, std::function<void()> task) {
    QTimer::singleShot(delayMs, std::move(task));
  };
}

void RoundEjectButton::setAvailableState(bool available) {
  isAvailableState_ = available;
  update();
}

void RoundEjectButton::setTitle(const QString& title) {
  setText(title);
  setAccessibleName(title);
  updateGeometry();
}

void RoundEjectButton::flashDone() {
  showCheck_ = true;
  update();
  // The reset holds the button weakly: a button gone by then is simply skipped.
  scheduler_(flashMilliseconds, [button = QPointer<RoundEjectButton>(this)] {
    if (button) {
      button->showCheck_ = false;
      button->update();
    }
  });
}

QRectF RoundEjectButton::shapeRect() const {
  return QRectF(rect()).adjusted(2, 2, -2, -2);
}

QSize RoundEjectButton::sizeHint() const {
  // 230 x 46 at least; wider when the title and symbol need it (long translations, big fonts).
  const QFontMetricsF metrics(systemFont(15, QFont::DemiBold, this), this);
  const int content =
      static_cast<int>(std::ceil(metrics.horizontalAdvance(text()) + Symbols::side(16) + iconGap));
  return {std::max(230, content + 48), std::max(46, static_cast<int>(metrics.height()) + 20)};
}

bool RoundEjectButton::hitButton(const QPoint& position) const {
  return isAvailableState_ && rect().contains(position);
}

void RoundEjectButton::keyPressEvent(QKeyEvent* event) {
  const bool activates = event->key() == Qt::Key_Space || event->key() == Qt::Key_Return ||
                         event->key() == Qt::Key_Enter;
  if (activates && !isAvailableState_) {
    event->accept();
    return;
  }
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && !event->isAutoRepeat()) {
    animateClick();
    return;
  }
  QAbstractButton::keyPressEvent(event);
}

QImage RoundEjectButton::shadowImage(qreal ratio, bool available) {
  const QSize pixels = (QSizeF(size()) * ratio).toSize();
  if (shadowCache_.size() == pixels && shadowCache_.devicePixelRatio() == ratio &&
      shadowCacheAvailable_ == available) {
    return shadowCache_;
  }
  QImage shadow(pixels, QImage::Format_ARGB32_Premultiplied);
  shadow.fill(Qt::transparent);
  {
    QPainter painter(&shadow);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(ratio, ratio);
    painter.fillPath(capsule(shapeRect().translated(0, shadowOffsetY)),
                     QColor::fromRgbF(0, 0, 0, available ? 0.22f : 0.12f));
  }
  // Three box passes approximate a Gaussian; the blur radius is about twice its deviation.
  const int boxRadius = std::max(1, static_cast<int>(std::lround(shadowBlur * ratio / 4)));
  for (int pass = 0; pass < 3; ++pass) {
    boxBlurPass(shadow, boxRadius, true);
    boxBlurPass(shadow, boxRadius, false);
  }
  shadow.setDevicePixelRatio(ratio);
  shadowCache_ = shadow;
  shadowCacheAvailable_ = available;
  return shadow;
}

void RoundEjectButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  const QRectF shape = shapeRect();
  if (shape.isEmpty()) {
    return;
  }
  const QPainterPath path = capsule(shape);
  const qreal ratio = devicePixelRatioF();

  painter.drawImage(QPointF(0, 0), shadowImage(ratio, isAvailableState_));
  if (isAvailableState_) {
    QLinearGradient gradient(shape.topLeft(), shape.bottomLeft());
    gradient.setColorAt(0, gradientTop);
    gradient.setColorAt(1, gradientBottom);
    painter.fillPath(path, gradient);
  } else {
    painter.fillPath(path, systemGrey);
  }
  if (isDown()) {
    painter.fillPath(path, QColor::fromRgbF(0, 0, 0, 0.15f));
  }

  const qreal alpha = isAvailableState_ ? 1.0 : 0.6;
  const QImage symbol =
      Symbols::symbol(showCheck_ ? QStringLiteral("checkmark") : QStringLiteral("eject.fill"), 16,
                      QFont::DemiBold, Qt::white, ratio);
  const QFont font = systemFont(15, QFont::DemiBold, this);
  const QFontMetricsF metrics(font, this);
  const qreal titleWidth = metrics.horizontalAdvance(text());
  const qreal titleHeight = metrics.height();
  const QSizeF symbolSize = symbol.isNull() ? QSizeF() : symbol.deviceIndependentSize();
  // The gap is counted even without a title, so a bare symbol sits 4 left of the centre.
  const qreal iconAdvance = symbolSize.width() + iconGap;
  qreal x = shape.center().x() - (iconAdvance + titleWidth) / 2;

  painter.setOpacity(alpha);
  if (!symbol.isNull()) {
    painter.drawImage(QRectF(QPointF(x, shape.center().y() - symbolSize.height() / 2), symbolSize),
                      symbol);
  }
  x += iconAdvance;
  painter.setOpacity(1);
  painter.setFont(font);
  painter.setPen(QColor::fromRgbF(1, 1, 1, static_cast<float>(alpha)));
  painter.drawText(QRectF(x, shape.center().y() - titleHeight / 2, titleWidth + 1, titleHeight),
                   Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text());
  if (hasFocus()) {
    // Keyboard users need to see where Space and Return go.
    painter.setOpacity(1);
    painter.setPen(QPen(palette().color(QPalette::Highlight), 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(capsule(shape.adjusted(1, 1, -1, -1)));
  }
}
