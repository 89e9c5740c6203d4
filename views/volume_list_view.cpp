#include "views/volume_list_view.h"

#include <QEvent>
#include <QLabel>
#include <QScrollArea>
#include <QStackedLayout>
#include <QCoreApplication>
#include <QToolButton>
#include <QVBoxLayout>

#include "core/localization.h"
#include "views/localized_text.h"
#include "views/palette.h"
#include "views/volume_row_view.h"

VolumeListView::VolumeListView(QWidget* parent) : QWidget(parent) {
  scrollArea_ = new QScrollArea();
  scrollArea_->setFrameShape(QFrame::NoFrame);
  scrollArea_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  scrollArea_->setWidgetResizable(true);
  // The rows' buttons are the focus stops; the area itself has nothing to say to a reader.
  scrollArea_->setFocusPolicy(Qt::NoFocus);
  scrollArea_->viewport()->setAutoFillBackground(false);
  content_ = new QWidget();
  content_->setAutoFillBackground(false);
  rowsLayout_ = new QVBoxLayout(content_);
  rowsLayout_->setContentsMargins(0, 0, 0, 0);
  rowsLayout_->setSpacing(0);
  rowsLayout_->addStretch(1);
  scrollArea_->setWidget(content_);

  emptyLabel_ = makeLabel(text("eject.no_volumes"), 12, QFont::Normal, tertiaryLabelColor());
  emptyLabel_->setWordWrap(true);

  pages_ = new QStackedLayout(this);
  pages_->addWidget(emptyLabel_);
  pages_->addWidget(scrollArea_);
  setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
}

QSize VolumeListView::sizeHint() const {
  return {366, 3 * VolumeRowView::minimumRowHeight};
}

QSize VolumeListView::minimumSizeHint() const {
  return {240, VolumeRowView::minimumRowHeight};
}

QList<VolumeRowView*> VolumeListView::rows() const {
  return content_->findChildren<VolumeRowView*>(Qt::FindDirectChildrenOnly);
}

void VolumeListView::setEjectEnabled(bool enabled) {
  ejectEnabled_ = enabled;
  for (VolumeRowView* row : rows()) {
    row->findChild<QToolButton*>()->setEnabled(enabled);
  }
}

void VolumeListView::setVolumes(const std::vector<EjectableVolume>& volumes,
                                const std::vector<bool>& backupBadge) {
  // A row may be the one whose button started this rebuild, so rows leave now and are
  // deleted once control is back in the event loop.
  for (VolumeRowView* row : rows()) {
    row->hide();
    rowsLayout_->removeWidget(row);
    row->setParent(nullptr);
    row->deleteLater();
  }
  for (std::size_t index = 0; index < volumes.size(); ++index) {
    const bool badge = index < backupBadge.size() && backupBadge[index];
    auto* row = new VolumeRowView(volumes[index], badge, content_);
    connect(row, &VolumeRowView::ejectRequested, this, &VolumeListView::ejectRequested);
    row->findChild<QToolButton*>()->setEnabled(ejectEnabled_);
    rowsLayout_->insertWidget(static_cast<int>(index), row);
    row->show();
  }
  // Shown and laid out now, not when the event loop gets to it: meanwhile the range would be
  // that of an empty list, and the place the user scrolled to lost.
  rowsLayout_->activate();
  QCoreApplication::sendPostedEvents(content_, QEvent::LayoutRequest);
  pages_->setCurrentWidget(volumes.empty() ? static_cast<QWidget*>(emptyLabel_) : scrollArea_);
}

void VolumeListView::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  // The empty text's colour is derived from the theme's text colour; rows follow by themselves.
  if (event->type() == QEvent::PaletteChange) {
    QPalette labelPalette = emptyLabel_->palette();
    labelPalette.setColor(QPalette::WindowText, tertiaryLabelColor(palette()));
    emptyLabel_->setPalette(labelPalette);
  }
}
