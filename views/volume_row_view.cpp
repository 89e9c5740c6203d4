#include "views/volume_row_view.h"

#include <algorithm>
#include <cmath>

#include <QFontMetricsF>
#include <QFrame>
#include <QEvent>
#include <QLabel>
#include <QPainter>
#include <QToolButton>

#include "core/localization.h"
#include "views/palette.h"
#include "views/symbols.h"

namespace {

constexpr int iconX = 2;
constexpr int iconSide = 20;
constexpr int nameX = 32;
constexpr int nameHeight = 16;
constexpr int minimumNameWidth = 40;
constexpr int buttonColumn = 28; // the eject button's column at the right edge
constexpr int buttonSide = 24;
constexpr int rightGap = 10;
constexpr int sizeGap = 12;
constexpr int badgeHeight = 16;
constexpr int badgeGap = 8;
constexpr int badgePadding = 14;

const QColor badgeGreen = QColor::fromRgbF(0.133f, 0.773f, 0.369f);

// The green capsule behind the badge text.
class TimeMachineBadge : public QWidget {
 public:
  using QWidget::QWidget;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor background = badgeGreen;
    background.setAlphaF(0.18f);
    painter.setPen(Qt::NoPen);
    painter.setBrush(background);
    painter.drawRoundedRect(QRectF(rect()), 8, 8);
  }
};

} // namespace

VolumeRowLayout VolumeRowLayout::compute(int width, int height, QSize sizeTextSize, int badgeWidth,
                                         int nameTextWidth) {
  VolumeRowLayout layout;
  layout.icon = QRect(iconX, (height - iconSide) / 2, iconSide, iconSide);
  const int right = width - buttonColumn - rightGap;
  const int sizeWidth = sizeTextSize.isEmpty() ? 0 : sizeTextSize.width();
  if (sizeWidth > 0) {
    layout.size = QRect(right - sizeWidth, (height - sizeTextSize.height()) / 2, sizeWidth,
                        sizeTextSize.height());
  }
  const int reserved = badgeWidth > 0 ? badgeWidth + badgeGap : 0;
  // Never narrower than 40, even when it then runs into the size text.
  const int nameWidth = std::max(
      minimumNameWidth, right - sizeWidth - (sizeWidth > 0 ? sizeGap : 0) - reserved - nameX);
  layout.name = QRect(nameX, (height - nameHeight) / 2, nameWidth, nameHeight);
  if (badgeWidth > 0) {
    // Right after the visible end of the name, however short the name is.
    layout.badge = QRect(nameX + std::min(nameWidth, nameTextWidth) + badgeGap,
                         (height - badgeHeight) / 2, badgeWidth, badgeHeight);
  }
  layout.ejectButton =
      QRect(width - buttonColumn, (height - buttonSide) / 2, buttonSide, buttonSide);
  layout.separator = QRect(0, height - 1, width, 1);
  return layout;
}

VolumeRowView::VolumeRowView(const QRect& frame, const EjectableVolume& volume, QWidget* parent)
    : QWidget(parent) {
  setGeometry(frame);
  const int width = frame.width();
  const int height = frame.height();

  iconSymbol_ = volume.isDiskImage ? QStringLiteral("opticaldisc.fill")
                                   : QStringLiteral("externaldrive.fill");
  iconView_ = new QLabel(this);
  iconView_->setAlignment(Qt::AlignCenter);

  // Time Machine badge: its width follows its text; its place follows the name.
  int badgeWidth = 0;
  QLabel* badgeLabel = nullptr;
  if (volume.isTimeMachine) {
    const QString text = QString::fromStdString(L("eject.time_machine_badge"));
    const QFont badgeFont = systemFont(9.5, QFont::DemiBold);
    badgeWidth = static_cast<int>(std::ceil(QFontMetricsF(badgeFont).horizontalAdvance(text))) +
                 badgePadding;
    timeMachineBadge_ = new TimeMachineBadge(this);
    badgeLabel = makeLabel(text, 9.5, QFont::DemiBold, badgeGreen, timeMachineBadge_);
  }

  const QString sizeText = QString::fromStdString(volume.sizeText);
  QSize sizeTextSize;
  if (!sizeText.isEmpty()) {
    sizeLabel_ = new QLabel(sizeText, this);
    sizeLabel_->setTextFormat(Qt::PlainText);
    sizeLabel_->setFont(systemFont(11.5));
    sizeLabel_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    sizeTextSize = sizeLabel_->sizeHint();
  }

  const QString name = QString::fromStdString(volume.name);
  const QFont nameFont = systemFont(12.5, QFont::Medium);
  const QFontMetricsF nameMetrics(nameFont);
  const int nameTextWidth = static_cast<int>(std::ceil(nameMetrics.horizontalAdvance(name)));

  const VolumeRowLayout layout =
      VolumeRowLayout::compute(width, height, sizeTextSize, badgeWidth, nameTextWidth);

  iconView_->setGeometry(layout.icon);
  if (sizeLabel_ != nullptr) {
    sizeLabel_->setGeometry(layout.size);
  }

  nameLabel_ = new QLabel(this);
  nameLabel_->setTextFormat(Qt::PlainText);
  nameLabel_->setFont(nameFont);
  nameLabel_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  const QString visibleName = nameMetrics.elidedText(name, Qt::ElideRight, layout.name.width());
  nameLabel_->setText(visibleName);
  if (visibleName != name) {
    nameLabel_->setToolTip(name);
  }
  nameLabel_->setAccessibleName(name);
  nameLabel_->setGeometry(layout.name);

  if (timeMachineBadge_ != nullptr) {
    timeMachineBadge_->setGeometry(layout.badge);
    badgeLabel->setGeometry(0, 2, badgeWidth, 13);
  }

  ejectButton_ = new QToolButton(this);
  ejectButton_->setAutoRaise(true);
  ejectButton_->setToolButtonStyle(Qt::ToolButtonIconOnly);
  ejectButton_->setToolTip(QString::fromStdString(L("eject.volume_action", volume.name)));
  ejectButton_->setAccessibleName(QString::fromStdString(L("eject.icon_accessibility")));
  ejectButton_->setGeometry(layout.ejectButton);
  connect(ejectButton_, &QToolButton::clicked, this, &VolumeRowView::ejectTapped);

  separator_ = new QFrame(this);
  separator_->setFrameShape(QFrame::HLine);
  separator_->setFrameShadow(QFrame::Plain);
  separator_->setLineWidth(1);
  separator_->setGeometry(layout.separator);
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

void VolumeRowView::ejectTapped() {
  if (onEject) {
    onEject();
  }
}
