#pragma once

#include <functional>

#include <QRect>
#include <QString>
#include <QWidget>

#include "core/ejectable_volume.h"

class QFrame;
class QLabel;
class QToolButton;

// Where the parts of a row go, computed from the measured texts alone.
struct VolumeRowLayout {
  QRect icon;
  QRect badge; // empty without a Time Machine badge
  QRect size;  // empty without a size text
  QRect name;
  QRect ejectButton;
  QRect separator;

  // width, height: the row; sizeTextSize: the fitted size text (zero when there is no text);
  // badgeWidth: the badge's full width (0 without one); nameTextWidth: the name's full width
  // in the name font.
  static VolumeRowLayout compute(int width, int height, QSize sizeTextSize, int badgeWidth,
                                 int nameTextWidth);
};

// One volume in the list: kind icon, name, optional Time Machine badge, size text and a small
// eject button. Built once from the volume; it keeps no reference to the volume itself.
class VolumeRowView : public QWidget {
  Q_OBJECT

 public:
  VolumeRowView(const QRect& frame, const EjectableVolume& volume, QWidget* parent = nullptr);

  // Run when the row's eject button is pressed.
  std::function<void()> onEject;

  QToolButton* ejectButton() const { return ejectButton_; }
  // Present only for Time Machine volumes.
  QWidget* timeMachineBadge() const { return timeMachineBadge_; }
  QLabel* iconView() const { return iconView_; }
  QLabel* nameLabel() const { return nameLabel_; }
  // Absent when the volume has no size text.
  QLabel* sizeLabel() const { return sizeLabel_; }
  QFrame* separator() const { return separator_; }
  const QString& iconSymbol() const { return iconSymbol_; }

 protected:
  void changeEvent(QEvent* event) override;

 private slots:
  void ejectTapped();

 private:
  // The icon, size text, eject image and separator take their colours from the theme.
  void applyThemeColours();

  QToolButton* ejectButton_ = nullptr;
  QWidget* timeMachineBadge_ = nullptr;
  QLabel* iconView_ = nullptr;
  QLabel* nameLabel_ = nullptr;
  QLabel* sizeLabel_ = nullptr;
  QFrame* separator_ = nullptr;
  QString iconSymbol_;
};
