#include "views/volume_list_view.h"

#include <algorithm>

#include <QEvent>
#include <QLabel>
#include <QPointer>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>

#include "core/localization.h"
#include "views/flipped_view.h"
#include "views/palette.h"
#include "views/volume_row_view.h"

VolumeListView::VolumeListView(QWidget* parent) : VolumeListView(QRect(), parent) {}

VolumeListView::VolumeListView(const QRect& frame, QWidget* parent) : QWidget(parent) {
  setGeometry(frame);

  scrollArea_ = new QScrollArea(this);
  scrollArea_->setGeometry(rect());
  scrollArea_->setFrameShape(QFrame::NoFrame);
  scrollArea_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  scrollArea_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  scrollArea_->setWidgetResizable(false);
  scrollArea_->setAutoFillBackground(false);
  scrollArea_->viewport()->setAutoFillBackground(false);

  content_ = new FlippedView;
  content_->setGeometry(0, 0, width(), height());
  scrollArea_->setWidget(content_);
  // The scroll area paints its document's background; the list stays transparent.
  content_->setAutoFillBackground(false);

  emptyLabel_ = makeLabel(QString::fromStdString(L("eject.no_volumes")), 12, QFont::Normal,
                          tertiaryLabelColor(), this);
  emptyLabel_->setGeometry(rect());
}

QList<VolumeRowView*> VolumeListView::rows() const {
  return content_->findChildren<VolumeRowView*>(Qt::FindDirectChildrenOnly);
}

void VolumeListView::update(const std::vector<EjectableVolume>& volumes) {
  // A row may be the one whose button started this rebuild, so rows leave now and are
  // deleted once control is back in the event loop.
  for (VolumeRowView* row : rows()) {
    row->hide();
    row->setParent(nullptr);
    row->deleteLater();
  }

  const int count = static_cast<int>(volumes.size());
  emptyLabel_->setVisible(count == 0);
  scrollArea_->setVisible(count > 0);

  const int listHeight = height();
  int rowWidth = width();
  if (listHeight < count * rowHeight) {
    rowWidth -=
        style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, scrollArea_->verticalScrollBar());
  }

  for (int index = 0; index < count; ++index) {
    const EjectableVolume& volume = volumes[static_cast<size_t>(index)];
    auto* row =
        new VolumeRowView(QRect(0, rowHeight * index, rowWidth, rowHeight), volume, content_);
    // The row may outlive the list (it is deleted later); then it does nothing.
    row->onEject = [list = QPointer<VolumeListView>(this), volume] {
      if (list && list->onEjectRow) {
        // Copies: the handler may rebuild or delete the list, and this row with it.
        const auto handler = list->onEjectRow;
        const EjectableVolume copy = volume; // NOLINT(performance-unnecessary-copy-initialization)
        handler(copy);
      }
    };
    row->show();
  }
  content_->resize(rowWidth, std::max(count * rowHeight, listHeight));
}

void VolumeListView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  scrollArea_->setGeometry(rect());
  emptyLabel_->setGeometry(rect());
}

void VolumeListView::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  // The empty text's colour is derived from the theme's text colour; rows are rebuilt anyway.
  if (event->type() == QEvent::PaletteChange) {
    QPalette labelPalette = emptyLabel_->palette();
    labelPalette.setColor(QPalette::WindowText, tertiaryLabelColor(palette()));
    emptyLabel_->setPalette(labelPalette);
  }
}
