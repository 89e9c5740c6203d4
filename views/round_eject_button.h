#pragma once

#include <functional>

#include <QImage>
#include <QString>
#include <QWidget>

// The large eject-all button of the main window: a blue capsule with a soft shadow, a white
// eject symbol and a white title. It darkens while pressed, turns grey and inert when there is
// nothing to eject, and can show a check mark for a moment after a successful eject.
//
// Clicks are reported through clicked(), once per press released inside the button. The button
// never takes keyboard focus, so clicking it leaves focus where it was.
class RoundEjectButton : public QWidget {
  Q_OBJECT

 public:
  // Runs `task` once after `delayMs` milliseconds on the main thread.
  using Scheduler = std::function<void(int delayMs, std::function<void()> task)>;

  explicit RoundEjectButton(QWidget* parent = nullptr);

  bool isAvailableState() const { return isAvailableState_; }
  void setAvailableState(bool available);
  const QString& title() const { return title_; }
  void setTitle(const QString& title);

  // Shows the check mark for 1.1 seconds. A second flash does not postpone the first reset.
  void flashDone();

  bool isPressed() const { return pressed_; }
  bool isShowingCheck() const { return showCheck_; }
  // The capsule: the bounds inset by 2 on every side, corner radius half its height.
  QRectF shapeRect() const;
  qreal cornerRadius() const { return shapeRect().height() / 2; }

  // Tests replace the timer to step through the delayed reset.
  void setScheduler(Scheduler scheduler) { scheduler_ = std::move(scheduler); }

  QSize sizeHint() const override;

 signals:
  void clicked();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  QImage shadowImage(qreal ratio, bool available);

  bool isAvailableState_ = true;
  QString title_;
  bool pressed_ = false;
  bool showCheck_ = false;
  bool tracking_ = false;
  Scheduler scheduler_;
  // The blurred shadow depends only on size, ratio and look; it is kept between paints.
  QImage shadowCache_;
  bool shadowCacheAvailable_ = false;
};
