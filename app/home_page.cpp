#include "app/home_page.h"

#include <utility>

#include <QApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QShowEvent>
#include <QToolButton>
#include <QVBoxLayout>

#include "build_config.h"
#include "core/backup_protection.h"
#include "core/settings.h"
#include "core/localization.h"
#include "views/localized_text.h"
#include "views/badge_image_view.h"
#include "views/palette.h"
#include "views/round_eject_button.h"
#include "views/symbols.h"
#include "views/volume_list_view.h"

namespace {

constexpr int iconSide = 92;

QToolButton* cornerButton(const QString& description) {
  auto* button = new QToolButton();
  button->setAutoRaise(true);
  button->setFocusPolicy(Qt::StrongFocus);
  button->setMinimumSize(30, 30);
  button->setToolTip(description);
  button->setAccessibleName(description);
  return button;
}

QPixmap applicationIconPixmap() {
  // Looking a symbol up makes sure the icon resources are loaded.
  if (Symbols::exists(QStringLiteral("eject.fill"))) {
    const QIcon icon(QStringLiteral(":/icons/varnelo-eject.svg"));
    if (!icon.isNull()) {
      return icon.pixmap(QSize(iconSide, iconSide), qApp->devicePixelRatio());
    }
  }
  if (const auto mark = varneloMark()) {
    return QPixmap::fromImage(*mark).scaled(iconSide, iconSide, Qt::KeepAspectRatio,
                                            Qt::SmoothTransformation);
  }
  return {};
}

} // namespace

HomePage::HomePage(const Settings& settings, QWidget* parent)
    : QWidget(parent), settings_(settings) {
  auto* icon = new QLabel();
  icon->setFixedSize(iconSide, iconSide);
  icon->setAlignment(Qt::AlignCenter);
  icon->setPixmap(applicationIconPixmap());

  title_ = makeLabel(text("app.name"), 24, QFont::Bold, labelColor());
  subtitle_ = makeLabel(text("home.subtitle"), 13, QFont::Normal, secondaryLabelColor());
  subtitle_->setWordWrap(true);

  ejectButton_ = new RoundEjectButton();
  ejectButton_->setObjectName(QStringLiteral("ejectAllButton"));
  ejectButton_->setTitle(text("eject.all_menu_item"));
  ejectButton_->setToolTip(text("eject.all_button_tooltip"));
  connect(ejectButton_, &RoundEjectButton::clicked, this, &HomePage::ejectAllRequested);

  summary_ = makeLabel(text("eject.no_volumes"), 15, QFont::DemiBold, tertiaryLabelColor());
  summary_->setObjectName(QStringLiteral("summaryLabel"));
  summary_->setWordWrap(true);

  list_ = new VolumeListView();
  list_->setMinimumWidth(366);
  connect(list_, &VolumeListView::ejectRequested, this, &HomePage::ejectVolumeRequested);

  messagesButton_ = cornerButton(text("accessibility.messages"));
  messagesButton_->setObjectName(QStringLiteral("messagesButton"));
  connect(messagesButton_, &QToolButton::clicked, this, &HomePage::messagesRequested);
  settingsButton_ = cornerButton(text("settings.title"));
  settingsButton_->setObjectName(QStringLiteral("settingsButton"));
  connect(settingsButton_, &QToolButton::clicked, this, &HomePage::settingsRequested);
  messagesBadge_ = new BadgeImageView(messagesButton_);
  messagesBadge_->setGeometry(16, 0, 14, 14);
  messagesBadge_->setScaledContents(true);
  messagesBadge_->hide();

  auto* column = new QVBoxLayout();
  column->setContentsMargins(32, 24, 32, 0);
  column->setSpacing(0);
  column->addStretch(1);
  column->addWidget(icon, 0, Qt::AlignHCenter);
  column->addSpacing(12);
  column->addWidget(title_);
  column->addSpacing(10);
  column->addWidget(subtitle_);
  column->addSpacing(16);
  column->addWidget(ejectButton_, 0, Qt::AlignHCenter);
  column->addSpacing(10);
  column->addWidget(summary_);
  column->addSpacing(8);
  column->addWidget(list_, 3);
  column->addStretch(1);

  auto* corner = new QHBoxLayout();
  corner->setContentsMargins(14, 0, 14, 14);
  corner->setSpacing(4);
  corner->addStretch(1);
  corner->addWidget(messagesButton_);
  corner->addWidget(settingsButton_);

  auto* page = new QVBoxLayout(this);
  page->setContentsMargins(0, 0, 0, 0);
  page->setSpacing(0);
  page->addLayout(column, 1);
  page->addLayout(corner);
  setTabOrder(ejectButton_, list_);
  applyThemeColours();
  applyVolumes({}, QString());
  setMessagesState(false, false);
}

void HomePage::setVolumes(const std::vector<EjectableVolume>& volumes, const QString& summary) {
  // Rows for a page nobody sees (the window closed to the tray, the settings in front) would
  // be built for nothing at every mount; the last list waits for the page to show.
  if (!isVisible()) {
    pending_ = Shown{.volumes = volumes, .summary = summary};
    return;
  }
  pending_.reset();
  applyVolumes(volumes, summary);
}

void HomePage::applyVolumes(const std::vector<EjectableVolume>& volumes, const QString& summary) {
  ejectButton_->setAvailableState(!volumes.empty());
  summaryText_ = summary;
  summary_->setVisible(!volumes.empty() || ejecting_);
  summary_->setText(ejecting_ ? text("eject.ejecting") : summary);
  std::vector<bool> badges;
  badges.reserve(volumes.size());
  const bool protectBackups = settings_.protectTimeMachine();
  for (const EjectableVolume& volume : volumes) {
    badges.push_back(isBackupVolume(volume, protectBackups));
  }
  list_->setVolumes(volumes, badges);
}

void HomePage::setBusy(bool busy) {
  if (busy) {
    refocusButton_ = ejectButton_->hasFocus();
  }
  ejectButton_->setEnabled(!busy);
  list_->setEjectEnabled(!busy);
  // Disabling the focused button sent the focus on; it comes back where the user left it.
  if (!busy && refocusButton_) {
    ejectButton_->setFocus(Qt::OtherFocusReason);
    refocusButton_ = false;
  }
}

void HomePage::setEjecting(bool ejecting) {
  ejecting_ = ejecting;
  ejectButton_->setTitle(text(ejecting ? "eject.ejecting" : "eject.all_menu_item"));
  summary_->setText(ejecting ? text("eject.ejecting") : summaryText_);
  summary_->setVisible(ejecting || !summaryText_.isEmpty());
}

void HomePage::flashDone() {
  ejectButton_->flashDone();
}

void HomePage::setMessagesState(bool ticketOpen, bool unread) {
  unread_ = unread;
  messagesButton_->setVisible(ticketOpen && build_config::networkFeatures);
  if (unread) {
    messagesBadge_->setPixmap(QPixmap::fromImage(quotaBadgeImage(1, 14)));
  } else {
    messagesBadge_->clear();
  }
  messagesBadge_->setVisible(unread);
  const QColor tint = unread ? palette().color(QPalette::Highlight) : secondaryLabelColor();
  messagesButton_->setIcon(
      QIcon(Symbols::pixmap(QStringLiteral("envelope.fill"), 15, QFont::Normal, tint)));
}

void HomePage::applyThemeColours() {
  changingColours_ = true;
  setLabelColor(title_, labelColor());
  setLabelColor(subtitle_, secondaryLabelColor());
  setLabelColor(summary_, secondaryLabelColor());
  settingsButton_->setIcon(QIcon(
      Symbols::pixmap(QStringLiteral("gearshape.fill"), 16, QFont::Normal, secondaryLabelColor())));
  settingsButton_->setIconSize(QSize(qRound(Symbols::side(16)), qRound(Symbols::side(16))));
  messagesButton_->setIconSize(QSize(qRound(Symbols::side(15)), qRound(Symbols::side(15))));
  changingColours_ = false;
}

void HomePage::showEvent(QShowEvent* event) {
  // Sent before the window reaches the screen, so its first frame is already current.
  if (pending_) {
    const Shown shown = std::move(*pending_);
    pending_.reset();
    applyVolumes(shown.volumes, shown.summary);
  }
  QWidget::showEvent(event);
}

void HomePage::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  // Colours set by hand do not follow a light/dark switch by themselves.
  if (event->type() == QEvent::PaletteChange && !changingColours_) {
    applyThemeColours();
    setMessagesState(messagesButton_->isVisibleTo(this), unread_);
  }
}
