#include "views/status_item_controller.h"

#include <optional>

#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QIcon>
#include <QMenu>

#include "core/eject_settings.h"
#include "core/localization.h"
#include "views/palette.h"
#include "views/symbols.h"

namespace {

constexpr qreal statusPointSize = 14;
// Panels ask for different sizes; these cover the common ones sharply.
constexpr int trayPixelSizes[] = {16, 22, 24, 32, 48, 64};

std::optional<QColor> chosenStatusColor() {
  // "#7C3AED" when nothing is stored; an unreadable text gives no colour.
  const std::optional<RgbColor> color = EjectSettings::color(EjectSettings::statusColorHex());
  if (!color) {
    return std::nullopt;
  }
  return QColor::fromRgbF(static_cast<float>(color->red), static_cast<float>(color->green),
                          static_cast<float>(color->blue));
}

} // namespace

StatusItemController::StatusItemController(QObject* parent) : QObject(parent) {
  // The monochrome look follows the desktop's light or dark theme.
  qApp->installEventFilter(this);
}

StatusItemController::~StatusItemController() {
  if (qApp != nullptr) {
    qApp->removeEventFilter(this);
  }
  if (openMenu_) {
    delete openMenu_.data();
  }
}

void StatusItemController::enable(MenuProvider menuProvider) {
  menuProvider_ = std::move(menuProvider);
  if (statusItem_ == nullptr) {
    statusItem_ = new QSystemTrayIcon(this);
    connect(statusItem_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
              clicked(reason, QGuiApplication::keyboardModifiers());
            });
    refreshIcon();
    statusItem_->show();
    return;
  }
  refreshIcon();
}

void StatusItemController::disable() {
  if (statusItem_ != nullptr) {
    statusItem_->hide();
    delete statusItem_;
  }
  statusItem_ = nullptr;
}

void StatusItemController::setVolumeCount(int count) {
  hasVolumes_ = count > 0;
  refreshIcon();
}

void StatusItemController::refreshIcon() {
  if (statusItem_ == nullptr) {
    return;
  }
  const std::optional<QColor> chosen = hasVolumes_ ? chosenStatusColor() : std::nullopt;
  templateIcon_ = !chosen.has_value();
  const QColor tint =
      chosen ? *chosen : (isDarkAppearance() ? QColor(Qt::white) : QColor(Qt::black));

  const QString name = QStringLiteral("eject.fill");
  iconImage_ = Symbols::symbol(name, statusPointSize, QFont::Normal, tint, 1);
  QIcon icon;
  for (int pixels : trayPixelSizes) {
    // Sized by pixels: the symbol's square is 1.2 x its point size.
    const QImage image = Symbols::symbol(name, pixels / Symbols::side(1), QFont::Normal, tint, 1);
    if (!image.isNull()) {
      icon.addPixmap(QPixmap::fromImage(image));
    }
  }
  statusItem_->setIcon(icon);

  const std::string tip =
      hasVolumes_ && !volumeSummary.empty() ? volumeSummary : L("eject.no_volumes");
  statusItem_->setToolTip(QString::fromStdString(tip));
}

QString StatusItemController::toolTip() const {
  return statusItem_ != nullptr ? statusItem_->toolTip() : QString();
}

bool StatusItemController::isMenuAttached() const {
  return statusItem_ != nullptr && statusItem_->contextMenu() != nullptr;
}

void StatusItemController::clicked(QSystemTrayIcon::ActivationReason reason,
                                   Qt::KeyboardModifiers modifiers) {
  switch (reason) {
  case QSystemTrayIcon::Context:
    showMenu();
    return;
  case QSystemTrayIcon::Trigger:
    if (modifiers.testFlag(Qt::ControlModifier)) {
      showMenu();
    } else if (onEjectAll) {
      onEjectAll();
    }
    return;
  default:
    // A double click already delivered its first click as a trigger; middle clicks do nothing.
    return;
  }
}

void StatusItemController::showMenu() {
  if (statusItem_ == nullptr || !menuProvider_) {
    return;
  }
  if (openMenu_) {
    openMenu_->close();
  }
  QMenu* menu = menuProvider_();
  if (menu == nullptr) {
    return;
  }
  // Never attached to the tray icon: every click keeps reaching us, and the menu is rebuilt on
  // each opening. Deleted once the event loop is back after it closes (its action has run).
  openMenu_ = menu;
  connect(menu, &QMenu::aboutToHide, menu, &QObject::deleteLater);
  menu->popup(QCursor::pos());
}

bool StatusItemController::eventFilter(QObject* watched, QEvent* event) {
  if (watched == qApp && event->type() == QEvent::ApplicationPaletteChange) {
    refreshIcon();
  }
  return QObject::eventFilter(watched, event);
}
