#pragma once

#include <vector>

#include <QList>
#include <QWidget>

#include "core/ejectable_volume.h"

class QLabel;
class QScrollArea;
class QStackedLayout;
class QVBoxLayout;
class VolumeRowView;

// The mounted volumes as rows in a scroll area, or a centred no-volumes text when there are
// none. It asks for three rows' height and settles for one when the window is short.
class VolumeListView : public QWidget {
  Q_OBJECT

 public:
  explicit VolumeListView(QWidget* parent = nullptr);

  // Replaces all rows with one row per volume, in the given order. `backupBadge` says which
  // volumes carry the backup badge beyond those the backup tool names.
  void setVolumes(const std::vector<EjectableVolume>& volumes,
                  const std::vector<bool>& backupBadge = {});
  QList<VolumeRowView*> rows() const;
  // The rows' eject buttons, for now and for rows yet to come.
  void setEjectEnabled(bool enabled);

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 signals:
  void ejectRequested(const EjectableVolume& volume);

 protected:
  void changeEvent(QEvent* event) override;

 private:
  QStackedLayout* pages_ = nullptr;
  QScrollArea* scrollArea_ = nullptr;
  QWidget* content_ = nullptr;
  QVBoxLayout* rowsLayout_ = nullptr;
  QLabel* emptyLabel_ = nullptr;
  bool ejectEnabled_ = true;
};
