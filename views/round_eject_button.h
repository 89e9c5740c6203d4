#pragma once

#include <functional>

#include <QAbstractButton>
#include <QImage>
#include <QString>

// The large eject-all button of the main window: a blue capsule with a soft shadow, a white
// eject symbol and a white title. It darkens while pressed, turns grey and inert when there is
// nothing to eject, and can show a check mark for a moment after a successful eject.
//
// A real button: clicked() comes from the mouse, Space or Return, it takes focus with Tab and
// screen readers know it by its title.
class RoundEjectButton : public QAbstractButton {
  Q_OBJECT

 public:
  // Runs `task` once after `delayMs` milliseconds on the main thread.
  using Scheduler = std::function<void(int delayMs, std::function<void()> task)>;

  explicit RoundEjectButton(QWidget* parent = nullptr);

  bool isAvailableState() const { return isAvailableState_; }
  void setAvailableState(bool available);
  QString title() const { return text(); }
  void setTitle(const QString& title);

  // Shows the check mark for 1.1 seconds. A second flash does not postpone the first reset.
  void flashDone();

  bool isPressed() const { return isDown(); }
  bool isShowingCheck() const { return showCheck_; }
  // The capsule: the bounds inset by 2 on every side, corner radius half its height.
  QRectF shapeRect() const;
  qreal cornerRadius() const { return shapeRect().height() / 2; }

  // Tests replace the timer to step through the delayed reset.
  void setScheduler(Scheduler scheduler) { scheduler_ = std::move(scheduler); }

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool hitButton(const QPoint& position) const override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  QImage shadowImage(qreal ratio, bool available);

  bool isAvailableState_ = true;
  bool showCheck_ = false;
  Scheduler scheduler_;
  // The blurred shadow depends only on size, ratio and look; it is kept between paints.
  QImage shadowCache_;
  bool shadowCacheAvailable_ = false;
};
