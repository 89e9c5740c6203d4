#include "views/elided_label.h"

#include <algorithm>

#include <QEvent>
#include <QFontMetrics>

QString elidedInMiddle(const QString& text, const QFont& font, int width) {
  return QFontMetrics(font).elidedText(text, Qt::ElideMiddle, width);
}

ElidedLabel::ElidedLabel(const QString& text, QWidget* parent) : QLabel(parent) {
  setTextFormat(Qt::PlainText);
  setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  setFullText(text);
}

void ElidedLabel::setFullText(const QString& text) {
  fullText_ = text;
  setAccessibleName(text);
  updateGeometry();
  elide();
}

QSize ElidedLabel::minimumSizeHint() const {
  const QFontMetrics metrics(font());
  return {metrics.horizontalAdvance(QStringLiteral("M…M")), metrics.height()};
}

QSize ElidedLabel::sizeHint() const {
  const QFontMetrics metrics(font());
  return {metrics.horizontalAdvance(fullText_), metrics.height()};
}

void ElidedLabel::resizeEvent(QResizeEvent* event) {
  QLabel::resizeEvent(event);
  elide();
}

void ElidedLabel::changeEvent(QEvent* event) {
  QLabel::changeEvent(event);
  if (event->type() == QEvent::FontChange) {
    elide();
  }
}

void ElidedLabel::elide() {
  const QString shown = elidedInMiddle(fullText_, font(), std::max(1, width()));
  if (shown != text()) {
    setText(shown);
  }
  setToolTip(shown != fullText_ ? fullText_ : QString());
}
