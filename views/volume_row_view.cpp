#include "views/volume_row_view.h"

#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QToolButton>
#include <QVBoxLayout>

#include "core/localization.h"
#include "views/elided_label.h"
#include "views/palette.h"
#include "views/symbols.h"

namespace {

const QColor badgeGreen = QColor::fromRgbF(0.133f, 0.773f, 0.369f);

// The green capsule behind the backup badge's text.
class BackupBadge : public QLabel {
 public:
  explicit BackupBadge(const QString& text) : QLabel(text) {
    setTextFormat(Qt::PlainText);
    setFont(systemFont(9.5, QFont::DemiBold));
    setContentsMargins(7, 1, 7, 1);
    setAlignment(Qt::AlignCenter);
    QPalette colours = palette();
    colours.setColor(QPalette::WindowText, badgeGreen);
    setPalette(colours);
  }

 protected:
  void paintEvent(QPaintEvent* event) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor background = badgeGreen;
    background.setAlphaF(0.18f);
    painter.setPen(Qt::NoPen);
    painter.setBrush(background);
    const qreal radius = height() / 2.0;
    painter.drawRoundedRect(QRectF(rect()), radius, radius);
    painter.end();
    QLabel::paintEvent(event);
  }
};

// Return presses it too, as it does a push button.
class RowEjectButton : public QToolButton {
 public:
  using QToolButton::QToolButton;

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        !event->isAutoRepeat()) {
      animateClick();
      return;
    }
    QToolButton::keyPressEvent(event);
  }
};

} // namespace

VolumeRowView::VolumeRowView(const EjectableVolume& volume, bool showBackupBadge, QWidget* parent)
    : QWidget(parent), volume_(volume) {
  setMinimumHeight(minimumRowHeight);
  iconSymbol_ = volume.isDiskImage ? QStringLiteral("opticaldisc.fill")
                                   : QStringLiteral("externaldrive.fill");
  iconView_ = new QLabel();
  iconView_->setAlignment(Qt::AlignCenter);
  iconView_->setFixedSize(20, 20);

  nameLabel_ = new ElidedLabel(QString::fromStdString(volume.name));
  nameLabel_->setFont(systemFont(12.5, QFont::Medium));

  auto* line = new QHBoxLayout();
  line->setContentsMargins(2, 0, 4, 0);
  line->setSpacing(10);
  line->addWidget(iconView_);
  line->addWidget(nameLabel_, 1);
  if (volume.isTimeMachine || (showBackupBadge && !volume.contentsPending)) {
    // The badge names the tool whose backups the disk holds; only Time Machine's are called so.
    const std::string& kind = volume.backupKind;
    const std::string badge = !volume.isTimeMachine ? L("eject.backup_badge_unknown")
                              : kind == "deja-dup"  ? L("eject.backup_badge_deja_dup")
                              : kind == "timeshift" ? L("eject.backup_badge_timeshift")
                              : kind == "borg"      ? L("eject.backup_badge_borg")
                              : kind == "restic"    ? L("eject.backup_badge_restic")
                                                    : L("eject.time_machine_badge");
    auto* label = new BackupBadge(QString::fromStdString(badge));
    label->setToolTip(QString::fromStdString(volume.isTimeMachine
                                                 ? L("eject.backup_badge_tooltip", badge)
                                                 : L("eject.backup_badge_unknown_tooltip")));
    line->addWidget(label);
  }
  if (!volume.sizeText.empty()) {
    sizeLabel_ = new QLabel(QString::fromStdString(volume.sizeText));
    sizeLabel_->setTextFormat(Qt::PlainText);
    sizeLabel_->setFont(systemFont(11.5));
    line->addWidget(sizeLabel_);
  }
  ejectButton_ = new RowEjectButton();
  ejectButton_->setAutoRaise(true);
  ejectButton_->setFocusPolicy(Qt::StrongFocus);
  ejectButton_->setMinimumSize(24, 24);
  ejectButton_->setToolTip(QString::fromStdString(L("eject.volume_action", volume.name)));
  ejectButton_->setAccessibleName(QString::fromStdString(L("eject.volume_action", volume.name)));
  connect(ejectButton_, &QToolButton::clicked, this, [this]() { emit ejectRequested(volume_); });
  line->addWidget(ejectButton_);

  separator_ = new QFrame();
  separator_->setFrameShape(QFrame::HLine);
  separator_->setFrameShadow(QFrame::Plain);

  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  column->addLayout(line, 1);
  column->addWidget(separator_);
  applyThemeColours();
}

void VolumeRowView::applyThemeColours() {
  const QColor secondary = secondaryLabelColor(palette());
  iconView_->setPixmap(Symbols::pixmap(iconSymbol_, 14, QFont::Normal, secondary));
  if (sizeLabel_ != nullptr) {
    QPalette sizePalette = sizeLabel_->palette();
    sizePalette.setColor(QPalette::WindowText, tertiaryLabelColor(palette()));
    sizeLabel_->setPalette(sizePalette);
  }
  const QPixmap ejectImage =
      Symbols::pixmap(QStringLiteral("eject.fill"), 12.5, QFont::Normal, secondary);
  if (!ejectImage.isNull()) {
    ejectButton_->setIcon(QIcon(ejectImage));
    ejectButton_->setIconSize(ejectImage.deviceIndependentSize().toSize());
  }
  QPalette separatorPalette = separator_->palette();
  separatorPalette.setColor(QPalette::WindowText, separatorColor(palette()));
  separator_->setPalette(separatorPalette);
}

void VolumeRowView::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  // A light/dark switch while the list stays as it is.
  if (event->type() == QEvent::PaletteChange) {
    applyThemeColours();
  }
}
