#include "app/tray_icon.h"

#include <optional>

#include <QAction>
#include <QCursor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QGuiApplication>
#include <QMenu>
#include <QPainter>

#include "app/volume_model.h"
#include "core/eject_settings.h"
#include "build_config.h"
#include "core/localization.h"
#include "views/elided_label.h"
#include "views/palette.h"
#include "views/symbols.h"

namespace {

// Panels ask for different sizes; these cover the common ones sharply.
constexpr int trayPixelSizes[] = {16, 22, 24, 32, 48, 64};
// Wider than this, a volume's menu item is shortened in the middle.
constexpr int menuTextAverageCharacters = 40;

QString text(const char* key) {
  return QString::fromStdString(L(key));
}

std::optional<QColor> chosenColour() {
  const std::optional<RgbColor> colour = EjectSettings::color(EjectSettings::statusColorHex());
  if (!colour) {
    return std::nullopt;
  }
  return QColor::fromRgbF(static_cast<float>(colour->red), static_cast<float>(colour->green),
                          static_cast<float>(colour->blue));
}

QImage symbolOfPixels(int pixels, const QColor& tint) {
  return Symbols::symbol(QStringLiteral("eject.fill"), pixels / Symbols::side(1), QFont::Normal,
                         tint, 1);
}

// "&" would mark a shortcut letter and a tab split off a shortcut column.
QString menuItemText(QString title) {
  title.replace(QLatin1Char('&'), QStringLiteral("&&"));
  for (QChar& character : title) {
    if (character == QLatin1Char('\t') || character == QLatin1Char('\n') ||
        character == QLatin1Char('\r')) {
      character = QLatin1Char(' ');
    }
  }
  return title;
}

// Qt hands the icon to a StatusNotifierItem host when a watcher runs on the session bus; such
// hosts recolour symbolic theme icons to suit their panel.
bool statusNotifierHostPresent() {
  QDBusConnection bus = QDBusConnection::sessionBus();
  return bus.isConnected() && bus.interface() != nullptr &&
         bus.interface()->isServiceRegistered(QStringLiteral("org.kde.StatusNotifierWatcher"));
}

} // namespace

TrayIcon::TrayIcon(VolumeModel& model, QObject* parent)
    : QObject(parent), model_(model), menu_(std::make_unique<QMenu>()) {
  menu_->setToolTipsVisible(true);
  connect(menu_.get(), &QMenu::aboutToShow, this, &TrayIcon::rebuildMenu);
  icon_.setContextMenu(menu_.get());
  rebuildMenu();
  connect(&icon_, &QSystemTrayIcon::activated, this, &TrayIcon::activate);
  connect(&model_, &VolumeModel::changed, this, &TrayIcon::refresh);
  // StatusNotifierItem panels that never announce an opening still get the current list; the
  // embedded icon opens the menu itself, which announces it. Queued: the change may come from
  // inside one of the menu's own actions.
  connect(
      &model_, &VolumeModel::changed, this,
      [this]() {
        if (!menu_->isVisible() && statusNotifierHost()) {
          rebuildMenu();
        }
      },
      Qt::QueuedConnection);
  refresh();
}

TrayIcon::~TrayIcon() {
  icon_.setContextMenu(nullptr);
}

void TrayIcon::setVisible(bool visible) {
  if (visible) {
    refresh();
  }
  icon_.setVisible(visible);
}

bool TrayIcon::isVisible() const {
  return icon_.isVisible();
}

QIcon TrayIcon::contrastIcon() {
  QIcon icon;
  for (int pixels : trayPixelSizes) {
    const int outline = pixels >= 32 ? 2 : 1;
    const QImage dark = symbolOfPixels(pixels - 2 * outline, QColor(20, 20, 20));
    const QImage light = symbolOfPixels(pixels - 2 * outline, QColor(250, 250, 250));
    if (light.isNull()) {
      continue;
    }
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    for (int dx = -outline; dx <= outline; ++dx) {
      for (int dy = -outline; dy <= outline; ++dy) {
        painter.drawImage(QPoint(outline + dx, outline + dy), dark);
      }
    }
    painter.drawImage(QPoint(outline, outline), light);
    painter.end();
    icon.addPixmap(QPixmap::fromImage(image));
  }
  return icon;
}

bool TrayIcon::statusNotifierHost() {
  // Qt chooses between a StatusNotifierItem host and an embedded icon once, when the tray icon
  // is made, so the question is asked once too.
  if (!statusNotifierHost_) {
    statusNotifierHost_ = statusNotifierHostPresent();
  }
  return *statusNotifierHost_;
}

const QIcon& TrayIcon::plainIcon() {
  if (!plainIcon_) {
    plainIcon_ = statusNotifierHost()
                     ? QIcon::fromTheme(QStringLiteral("media-eject-symbolic"), contrastIcon())
                     : contrastIcon();
  }
  return *plainIcon_;
}

const QIcon& TrayIcon::colourIcon(const QColor& colour) {
  if (colourIcon_.isNull() || colour != colourIconColour_) {
    colourIcon_ = QIcon();
    for (int pixels : trayPixelSizes) {
      colourIcon_.addPixmap(QPixmap::fromImage(symbolOfPixels(pixels, colour)));
    }
    colourIconColour_ = colour;
  }
  return colourIcon_;
}

void TrayIcon::refresh() {
  const std::optional<QColor> colour = model_.isEmpty() ? std::nullopt : chosenColour();
  showsColour_ = colour.has_value();
  if (!iconSet_ || colour != shownColour_) {
    icon_.setIcon(colour ? colourIcon(*colour) : plainIcon());
    iconSet_ = true;
    shownColour_ = colour;
  }
  const QString toolTip = model_.isEmpty() ? text("eject.no_volumes") : model_.summary();
  if (toolTip != icon_.toolTip()) {
    icon_.setToolTip(toolTip);
  }
}

void TrayIcon::activate(QSystemTrayIcon::ActivationReason reason) {
  if (reason != QSystemTrayIcon::Trigger) {
    // The context menu opens by itself; a double click already came as a trigger.
    return;
  }
  // Control-click opens the menu where the pointer is, on X11 only: elsewhere the position is
  // unknown to us and the tray opens it itself.
  if (QGuiApplication::keyboardModifiers().testFlag(Qt::ControlModifier) &&
      QGuiApplication::platformName() == QLatin1String("xcb")) {
    menu_->popup(QCursor::pos());
    return;
  }
  emit ejectAllRequested();
}

void TrayIcon::rebuildMenu() {
  menu_->clear();
  const std::vector<EjectableVolume>& volumes = model_.volumes();
  const QFont font = menu_->font();
  const int widest = QFontMetrics(font).averageCharWidth() * menuTextAverageCharacters;

  QAction* ejectAll = menu_->addAction(text("eject.all_menu_item"));
  ejectAll->setEnabled(!volumes.empty() && !busy_);
  connect(ejectAll, &QAction::triggered, this, &TrayIcon::ejectAllRequested);
  if (!volumes.empty()) {
    menu_->addSeparator();
  }
  for (const EjectableVolume& volume : volumes) {
    const QString full = QString::fromStdString(L("eject.volume_action", volume.name));
    QAction* item = menu_->addAction(menuItemText(elidedInMiddle(full, font, widest)));
    item->setToolTip(full);
    item->setEnabled(!busy_);
    connect(item, &QAction::triggered, this,
            [this, volume]() { emit ejectVolumeRequested(volume); });
  }
  menu_->addSeparator();
  if (messagePending_ && build_config::networkFeatures) {
    QAction* message = menu_->addAction(text("messages.banner_title"));
    message->setIcon(QIcon(QPixmap::fromImage(quotaBadgeImage(1, 13))));
    connect(message, &QAction::triggered, this, &TrayIcon::messagesRequested);
  }
  connect(menu_->addAction(text("menu.open_app")), &QAction::triggered, this,
          &TrayIcon::openRequested);
  if (build_config::networkFeatures) {
    menu_->addSeparator();
    connect(menu_->addAction(text("menu.check_updates")), &QAction::triggered, this,
            &TrayIcon::checkForUpdatesRequested);
    connect(menu_->addAction(text("menu.report_problem")), &QAction::triggered, this,
            &TrayIcon::reportProblemRequested);
  }
  menu_->addSeparator();
  connect(menu_->addAction(text("menu.quit")), &QAction::triggered, this, &TrayIcon::quitRequested);
}
