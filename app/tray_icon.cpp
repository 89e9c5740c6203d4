#include "app/tray_icon.h"

#include <algorithm>
#include <optional>

#include <QAction>
#include <QCursor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusServiceWatcher>
#include <QGuiApplication>
#include <QHash>
#include <QIconEngine>
#include <QMenu>
#include <QPainter>

#include "app/volume_model.h"
#include "core/settings.h"
#include "build_config.h"
#include "core/localization.h"
#include "views/localized_text.h"
#include "views/elided_label.h"
#include "views/palette.h"
#include "views/symbols.h"

namespace {

// Panels ask for different sizes; these cover the common ones sharply.
constexpr int trayPixelSizes[] = {16, 22, 24, 32, 48, 64};
// Wider than this, a volume's menu item is shortened in the middle.
constexpr int menuTextAverageCharacters = 40;

std::optional<QColor> chosenColour(const Settings& settings) {
  const std::optional<RgbColor> colour = colorFromHex(settings.statusColorHex());
  if (!colour) {
    return std::nullopt;
  }
  return QColor::fromRgbF(static_cast<float>(colour->red), static_cast<float>(colour->green),
                          static_cast<float>(colour->blue));
}

constexpr const char* watcherService = "org.kde.StatusNotifierWatcher";
// Long enough for a desktop shell to restart and bring its panel back.
constexpr std::chrono::seconds panelGrace{4};

// Exactly `pixels` wide and high: a panel asking for 22 gets 22, not a scaled 23.
QImage symbolOfPixels(int pixels, const QColor& tint) {
  const qreal pointSize = (pixels - 0.01) / Symbols::side(1);
  return Symbols::symbol(QStringLiteral("eject.fill"), pointSize, QFont::Normal, tint, 1);
}

// The symbol's coverage at that size, drawn from its SVG once: every colour of the icon is a
// tint of it, so the first mount's coloured icon costs no SVG rendering. Main thread only.
const QImage& coverageOfPixels(int pixels) {
  static QHash<int, QImage> drawn;
  auto found = drawn.find(pixels);
  if (found == drawn.end()) {
    found = drawn.insert(pixels, symbolOfPixels(pixels, Qt::white));
  }
  return *found;
}

QImage tinted(const QImage& coverage, const QColor& colour) {
  QImage image = coverage.copy();
  QPainter painter(&image);
  painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
  painter.fillRect(image.rect(), colour);
  return image;
}

// The glyph in `fill` on a ring of `outline`, one pixel wide (two from 32 pixels up).
QPixmap outlinedPixmap(int pixels, const QColor& fill, const QColor& outline) {
  const int ring = pixels >= 32 ? 2 : 1;
  const QImage& coverage = coverageOfPixels(pixels - 2 * ring);
  if (coverage.isNull()) {
    return {};
  }
  const QImage edge = tinted(coverage, outline);
  const QImage glyph = tinted(coverage, fill);
  QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  for (int dx = -ring; dx <= ring; ++dx) {
    for (int dy = -ring; dy <= ring; ++dy) {
      painter.drawImage(QPoint(ring + dx, ring + dy), edge);
    }
  }
  painter.drawImage(QPoint(ring, ring), glyph);
  painter.end();
  return QPixmap::fromImage(image);
}

// Draws each size when it is first asked for: an embedded icon asks for one, where drawing
// them all cost a start or a first mount twelve SVG renderings.
class OutlinedIconEngine : public QIconEngine {
 public:
  OutlinedIconEngine(const QColor& fill, const QColor& outline) : fill_(fill), outline_(outline) {}

  QPixmap pixmap(const QSize& size, QIcon::Mode, QIcon::State) override {
    const int pixels = std::min(size.width(), size.height());
    auto drawn = drawn_.find(pixels);
    if (drawn == drawn_.end()) {
      drawn = drawn_.insert(pixels, outlinedPixmap(pixels, fill_, outline_));
    }
    return *drawn;
  }

  void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override {
    painter->drawPixmap(rect, pixmap(rect.size(), mode, state));
  }

  QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override {
    QList<QSize> sizes;
    for (int pixels : trayPixelSizes) {
      sizes.append(QSize(pixels, pixels));
    }
    return sizes;
  }

  QIconEngine* clone() const override { return new OutlinedIconEngine(*this); }

 private:
  QColor fill_;
  QColor outline_;
  QHash<int, QPixmap> drawn_;
};

QIcon outlinedIcon(const QColor& fill, const QColor& outline) {
  return QIcon(new OutlinedIconEngine(fill, outline));
}

// Qt hands the icon to a StatusNotifierItem host when a watcher runs on the session bus; such
// hosts recolour symbolic theme icons to suit their panel.
bool statusNotifierHostPresent() {
  QDBusConnection bus = QDBusConnection::sessionBus();
  return bus.isConnected() && bus.interface() != nullptr &&
         bus.interface()->isServiceRegistered(QString::fromLatin1(watcherService));
}

} // namespace

TrayIcon::TrayIcon(VolumeModel& model, const Settings& settings, QObject* parent)
    : QObject(parent), model_(model), settings_(settings), menu_(std::make_unique<QMenu>()) {
  menu_->setToolTipsVisible(true);
  connect(menu_.get(), &QMenu::aboutToShow, this, &TrayIcon::rebuildMenu);
  icon_.setContextMenu(menu_.get());
  connect(&icon_, &QSystemTrayIcon::activated, this, &TrayIcon::activate);
  panelGrace_.setSingleShot(true);
  panelGrace_.setInterval(panelGrace);
  connect(&panelGrace_, &QTimer::timeout, this, [this]() {
    panelLost_ = true;
    emit panelLost();
  });
  if (statusNotifierHost()) {
    // A panel may read the menu before it ever announces an opening; the embedded icon's menu
    // is filled as it opens, so a start in tray mode lays out no text for it.
    rebuildMenu();
    // A desktop shell that restarts brings a new watcher; one that never comes back leaves
    // the window as the only way in.
    watcher_ =
        new QDBusServiceWatcher(QString::fromLatin1(watcherService), QDBusConnection::sessionBus(),
                                QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher_, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& owner) {
              followWatcher(!owner.isEmpty());
            });
  }
  connect(&model_, &VolumeModel::changed, this, &TrayIcon::refresh);
  // StatusNotifierItem panels that never announce an opening still get the current list; the
  // embedded icon opens the menu itself, which announces it. Queued: the change may come from
  // inside one of the menu's own actions.
  if (statusNotifierHost()) {
    connect(
        &model_, &VolumeModel::changed, this,
        [this]() {
          if (!menu_->isVisible()) {
            rebuildMenu();
          }
        },
        Qt::QueuedConnection);
  }
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
  return outlinedIcon(QColor(250, 250, 250), QColor(20, 20, 20));
}

QIcon TrayIcon::colourIcon(const QColor& colour) {
  // The colour itself stands out on light panels; the light ring carries it on dark ones.
  return outlinedIcon(colour, QColor(250, 250, 250));
}

TrayIcon::Click TrayIcon::clickAction(QSystemTrayIcon::ActivationReason reason,
                                      Qt::KeyboardModifiers modifiers, const QString& platform) {
  // The context menu opens by itself; a double click already came as a trigger.
  if (reason != QSystemTrayIcon::Trigger) {
    return Click::nothing;
  }
  modifiers &= ~Qt::KeypadModifier;
  if (modifiers == Qt::NoModifier) {
    return Click::ejectAll;
  }
  if (modifiers == Qt::ControlModifier && platform == QLatin1String("xcb")) {
    return Click::openMenu;
  }
  return Click::nothing;
}

QString TrayIcon::menuItemText(QString title, bool dbusMenu) {
  if (dbusMenu) {
    // GTK panels take "_" for the shortcut mark and "__" for an underscore. Qt turns the first
    // "&" into that mark and leaves the others be: a leading one is the one it turns.
    title.replace(QLatin1Char('_'), QStringLiteral("__"));
    if (title.contains(QLatin1Char('&'))) {
      title.prepend(QLatin1Char('&'));
    }
  } else {
    title.replace(QLatin1Char('&'), QStringLiteral("&&"));
  }
  // A tab would split off a shortcut column.
  for (QChar& character : title) {
    if (character == QLatin1Char('\t') || character == QLatin1Char('\n') ||
        character == QLatin1Char('\r')) {
      character = QLatin1Char(' ');
    }
  }
  return title;
}

void TrayIcon::followWatcher(bool present) {
  if (!present) {
    panelGrace_.start();
    return;
  }
  // Qt registers the item with the new watcher by itself.
  panelGrace_.stop();
  panelLost_ = false;
}

void TrayIcon::setBusy(bool busy) {
  busy_ = busy;
  if (!menu_->isVisible() && statusNotifierHost()) {
    rebuildMenu();
  }
}

void TrayIcon::setEjecting(bool ejecting) {
  ejecting_ = ejecting;
  refresh();
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

const QIcon& TrayIcon::cachedColourIcon(const QColor& colour) {
  if (colourIcon_.isNull() || colour != colourIconColour_) {
    colourIcon_ = colourIcon(colour);
    colourIconColour_ = colour;
  }
  return colourIcon_;
}

void TrayIcon::refresh() {
  const std::optional<QColor> colour = model_.isEmpty() ? std::nullopt : chosenColour(settings_);
  if (!iconSet_ || colour != shownColour_) {
    icon_.setIcon(colour ? cachedColourIcon(*colour) : plainIcon());
    iconSet_ = true;
    shownColour_ = colour;
  }
  const QString toolTip = ejecting_          ? text("eject.ejecting")
                          : model_.isEmpty() ? text("eject.no_volumes")
                                             : model_.summary();
  if (toolTip != icon_.toolTip()) {
    icon_.setToolTip(toolTip);
  }
}

void TrayIcon::activate(QSystemTrayIcon::ActivationReason reason) {
  // Asked of the display rather than taken from our last input event: a panel's click never
  // reached us.
  switch (clickAction(reason, QGuiApplication::queryKeyboardModifiers(),
                      QGuiApplication::platformName())) {
  case Click::ejectAll:
    emit ejectAllRequested();
    break;
  case Click::openMenu:
    // The exported menu's labels are written for the panel's toolkit; ours shows its own.
    if (statusNotifierHost()) {
      popup_ = std::make_unique<QMenu>();
      popup_->setToolTipsVisible(true);
      fillMenu(*popup_, false);
      popup_->popup(QCursor::pos());
    } else {
      menu_->popup(QCursor::pos());
    }
    break;
  case Click::nothing:
    break;
  }
}

void TrayIcon::rebuildMenu() {
  fillMenu(*menu_, statusNotifierHost());
}

void TrayIcon::fillMenu(QMenu& menu, bool dbusMenu) {
  menu.clear();
  const std::vector<EjectableVolume>& volumes = model_.volumes();
  const QFont font = menu.font();
  const int widest = QFontMetrics(font).averageCharWidth() * menuTextAverageCharacters;

  QAction* ejectAll = menu.addAction(text("eject.all_menu_item"));
  ejectAll->setEnabled(!volumes.empty() && !busy_);
  connect(ejectAll, &QAction::triggered, this, &TrayIcon::ejectAllRequested);
  if (!volumes.empty()) {
    menu.addSeparator();
  }
  for (const EjectableVolume& volume : volumes) {
    const QString full = QString::fromStdString(L("eject.volume_action", volume.name));
    QAction* item = menu.addAction(menuItemText(elidedInMiddle(full, font, widest), dbusMenu));
    item->setToolTip(full);
    item->setEnabled(!busy_);
    connect(item, &QAction::triggered, this,
            [this, volume]() { emit ejectVolumeRequested(volume); });
  }
  menu.addSeparator();
  if (messagePending_ && build_config::networkFeatures) {
    QAction* message = menu.addAction(text("messages.banner_title"));
    message->setIcon(QIcon(QPixmap::fromImage(quotaBadgeImage(1, 13))));
    connect(message, &QAction::triggered, this, &TrayIcon::messagesRequested);
  }
  connect(menu.addAction(text("menu.open_app")), &QAction::triggered, this,
          &TrayIcon::openRequested);
  if (build_config::networkFeatures) {
    menu.addSeparator();
    connect(menu.addAction(text("menu.check_updates")), &QAction::triggered, this,
            &TrayIcon::checkForUpdatesRequested);
    connect(menu.addAction(text("menu.report_problem")), &QAction::triggered, this,
            &TrayIcon::reportProblemRequested);
  }
  menu.addSeparator();
  // Q is Quit's shortcut letter, in every language.
  QString quit = text("menu.quit");
  const qsizetype letter =
      std::max<qsizetype>(0, quit.indexOf(QLatin1Char('Q'), 0, Qt::CaseInsensitive));
  connect(menu.addAction(quit.insert(letter, QLatin1Char('&'))), &QAction::triggered, this,
          &TrayIcon::quitRequested);
}
