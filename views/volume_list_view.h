#pragma once

#include <functional>
#include <vector>

#include <QList>
#include <QWidget>

#include "core/ejectable_volume.h"

class FlippedView;
class QLabel;
class QScrollArea;
class VolumeRowView;

// The mounted volumes as fixed-height rows in a scroll area, or a centred no-volumes text when
// there are none. Every update() rebuilds all rows; the list is short.
class VolumeListView : public QWidget {
  Q_OBJECT

 public:
  static constexpr int rowHeight = 40;

  explicit VolumeListView(QWidget* parent = nullptr);
  VolumeListView(const QRect& frame, QWidget* parent = nullptr);

  // Replaces all rows with one row per volume, in the given order. It hides QWidget's repaint
  // overloads on purpose, so that update({}) means "no volumes"; use QWidget::update() to repaint.
  void update(const std::vector<EjectableVolume>& volumes);

  // Run with a copy of a row's volume when that row's eject button is pressed.
  std::function<void(const EjectableVolume&)> onEjectRow;

  QScrollArea* scrollArea() const { return scrollArea_; }
  FlippedView* content() const { return content_; }
  QLabel* emptyLabel() const { return emptyLabel_; }
  QList<VolumeRowView*> rows() const;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  QScrollArea* scrollArea_ = nullptr;
  FlippedView* content_ = nullptr;
  QLabel* emptyLabel_ = nullptr;
};
