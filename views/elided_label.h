#pragma once

#include <QLabel>
#include <QString>

// A one-line plain-text label that shortens its text in the middle when it does not fit, so a
// long volume name keeps both its start and its end; the full text is then its tooltip.
class ElidedLabel : public QLabel {
  Q_OBJECT

 public:
  explicit ElidedLabel(const QString& text = QString(), QWidget* parent = nullptr);

  void setFullText(const QString& text);
  const QString& fullText() const { return fullText_; }

  QSize minimumSizeHint() const override;
  QSize sizeHint() const override;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void elide();

  QString fullText_;
};

// `text` shortened in the middle to at most `width` pixels of `font`.
QString elidedInMiddle(const QString& text, const QFont& font, int width);
