#pragma once

#include <QString>
#include <QWidget>

#include "core/ejectable_volume.h"

class ElidedLabel;
class QFrame;
class QLabel;
class QToolButton;

// One volume in the list: kind icon, name (shortened in the middle when long), optional backup
// badge, size text and a small eject button that Tab reaches and Space or Return presses.
class VolumeRowView : public QWidget {
  Q_OBJECT

 public:
  static constexpr int minimumRowHeight = 40;

  explicit VolumeRowView(const EjectableVolume& volume, bool showBackupBadge = false,
                         QWidget* parent = nullptr);

  const EjectableVolume& volume() const { return volume_; }

 signals:
  void ejectRequested(const EjectableVolume& volume);

 protected:
  void changeEvent(QEvent* event) override;

 private:
  // The icon, size text, eject image and separator take their colours from the theme.
  void applyThemeColours();

  EjectableVolume volume_;
  QString iconSymbol_;
  QToolButton* ejectButton_ = nullptr;
  QLabel* iconView_ = nullptr;
  ElidedLabel* nameLabel_ = nullptr;
  QLabel* sizeLabel_ = nullptr;
  QFrame* separator_ = nullptr;
};
