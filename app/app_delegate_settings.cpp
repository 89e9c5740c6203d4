#include <syslog.h>

#include <cmath>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QPushButton>
#include <QToolButton>
#include <QUrl>

#include "app/app_delegate.h"
#include "build_config.h"
#include "core/eject_settings.h"
#include "core/localization.h"
#include "core/settings_store.h"
#include "platform/linux/xdg_autostart_login_item.h"
#include "views/flipped_view.h"
#include "views/palette.h"
#include "views/symbols.h"

namespace {

constexpr int viewWidth = 430;

// A rounded box drawn behind a group of controls; the controls are its siblings, not children.
class SettingsCard : public QWidget {
 public:
  using QWidget::QWidget;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor label = labelColor(palette());
    QColor fill = label;
    fill.setAlphaF(0.05f);
    QColor border = label;
    border.setAlphaF(0.08f);
    // The 1-pixel border sits inside the box, as the box's own frame would.
    const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(QPen(border, 1));
    painter.setBrush(fill);
    painter.drawRoundedRect(box, 10, 10);
  }
};

// The maker's site as a bare coloured title; it dims while pressed instead of showing a bezel.
class LinkButton : public QAbstractButton {
 public:
  LinkButton(const QString& title, QWidget* parent) : QAbstractButton(parent) {
    setText(title);
    setFont(systemFont(12, QFont::DemiBold));
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
  }

  QSize sizeHint() const override {
    const QFontMetrics metrics(font());
    return QSize(metrics.horizontalAdvance(text()) + 4, metrics.height() + 2);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    QColor colour = varneloMauve(palette());
    if (isDown()) {
      colour.setAlphaF(0.6f);
    }
    painter.setPen(colour);
    painter.setFont(font());
    painter.drawText(rect(), Qt::AlignCenter, text());
  }
};

// Keeps the labels and the back button in step with the desktop's light or dark theme: their
// colours are set once at creation, so a switch has to set them again.
class ThemeFollower : public QObject {
 public:
  explicit ThemeFollower(QWidget* root) : QObject(root) { qApp->installEventFilter(this); }

  void follow(QLabel* label, std::function<QColor()> colour) {
    labels_.emplace_back(label, std::move(colour));
  }
  void followBackButton(QToolButton* button) { back_ = button; }

  void apply() {
    for (const auto& [label, colour] : labels_) {
      if (label) {
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, colour());
        palette.setColor(QPalette::Text, colour());
        label->setPalette(palette);
      }
    }
    if (back_) {
      back_->setIcon(QIcon(Symbols::pixmap(QStringLiteral("chevron.left"), 15, QFont::DemiBold,
                                           secondaryLabelColor())));
    }
  }

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == qApp && event->type() == QEvent::ApplicationPaletteChange) {
      apply();
    }
    return false;
  }

 private:
  std::vector<std::pair<QPointer<QLabel>, std::function<QColor()>>> labels_;
  QPointer<QToolButton> back_;
};

// Adds a card with that frame to the root, below everything added after it.
void card(QWidget* root, const QRect& frame) {
  auto* box = new SettingsCard(root);
  box->setGeometry(frame);
  box->setAttribute(Qt::WA_TransparentForMouseEvents);
}

QCheckBox* checkbox(const std::string& titleKey, QWidget* root, QPoint origin) {
  auto* box = new QCheckBox(QString::fromStdString(L(titleKey)), root);
  box->adjustSize();
  box->move(origin);
  return box;
}

QPushButton* pushButton(const std::string& titleKey, QWidget* root) {
  auto* button = new QPushButton(QString::fromStdString(L(titleKey)), root);
  button->adjustSize();
  return button;
}

void centreAt(QWidget* widget, int y) {
  widget->adjustSize();
  widget->move((viewWidth - widget->width()) / 2, y);
}

// An 11 x 11 filled circle, sharp on high-density screens.
QIcon swatch(const RgbColor& rgb) {
  const qreal ratio = qApp != nullptr ? qApp->devicePixelRatio() : 1.0;
  const int side = static_cast<int>(std::ceil(11 * ratio));
  QPixmap pixmap(side, side);
  pixmap.setDevicePixelRatio(ratio);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor::fromRgbF(static_cast<float>(rgb.red), static_cast<float>(rgb.green),
                                    static_cast<float>(rgb.blue)));
  painter.drawEllipse(QRectF(0, 0, 11, 11));
  return QIcon(pixmap);
}

// The index of the stored colour in the table, or the default entry's when it is not there.
int selectedColourTag() {
  const std::string current = EjectSettings::statusColorHex();
  const std::vector<StatusColorEntry>& colours = EjectSettings::statusColors();
  for (std::size_t index = 0; index < colours.size(); ++index) {
    if (colours[index].hex == current) {
      return static_cast<int>(index);
    }
  }
  return 1;
}

QPixmap brandMark(int side) {
  const std::optional<QImage> mark = varneloMark();
  if (!mark) {
    return {};
  }
  const qreal ratio = qApp != nullptr ? qApp->devicePixelRatio() : 1.0;
  const int pixels = static_cast<int>(std::ceil(side * ratio));
  QPixmap pixmap = QPixmap::fromImage(
      mark->scaled(pixels, pixels, Qt::KeepAspectRatio, Qt::SmoothTransformation));
  pixmap.setDevicePixelRatio(ratio);
  return pixmap;
}

} // namespace

QWidget* AppDelegate::buildSettingsView() {
  auto* root = new FlippedView();
  root->setFixedSize(winSize);

  auto* theme = new ThemeFollower(root);
  const auto label = []() { return labelColor(); };
  const auto secondary = []() { return secondaryLabelColor(); };

  auto* back = new QToolButton(root);
  theme->followBackButton(back);
  back->setObjectName(QStringLiteral("backButton"));
  back->setAutoRaise(true);
  back->setFocusPolicy(Qt::NoFocus);
  back->setGeometry(18, 46, 28, 28);
  back->setIcon(QIcon(
      Symbols::pixmap(QStringLiteral("chevron.left"), 15, QFont::DemiBold, secondaryLabelColor())));
  back->setIconSize(QSize(qRound(Symbols::side(15)), qRound(Symbols::side(15))));
  back->setToolTip(QString::fromStdString(L("accessibility.back")));
  back->setAccessibleName(back->toolTip());
  connect(back, &QToolButton::clicked, this, &AppDelegate::showMain);

  QLabel* title =
      makeLabel(QString::fromStdString(L("settings.title")), 20, QFont::Bold, labelColor(), root);
  title->setObjectName(QStringLiteral("settingsTitle"));
  theme->follow(title, label);
  title->adjustSize();
  title->move(54, 60 - title->height() / 2);

  card(root, QRect(24, 100, 382, 110));

  QCheckBox* diskImages = checkbox("settings.eject_disk_images", root, {40, 112});
  diskImages->setChecked(EjectSettings::ejectDiskImages());
  connect(diskImages, &QCheckBox::clicked, this,
          [this, diskImages]() { toggleDiskImages(diskImages); });
  dmgCheckbox = diskImages;

  QCheckBox* timeMachine = checkbox("settings.protect_time_machine", root, {40, 140});
  timeMachine->setChecked(EjectSettings::protectTimeMachine());
  connect(timeMachine, &QCheckBox::clicked, this,
          [this, timeMachine]() { toggleProtectTimeMachine(timeMachine); });
  tmCheckbox = timeMachine;

  QLabel* colourLabel = makeLabel(QString::fromStdString(L("settings.color_when_mounted")), 13,
                                  QFont::Normal, labelColor(), root);
  colourLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  theme->follow(colourLabel, label);
  // Longer than the room beside the pop-up in some languages: it then takes two lines.
  constexpr int colourLabelRoom = 280 - 40 - 8;
  colourLabel->adjustSize();
  if (colourLabel->width() > colourLabelRoom) {
    colourLabel->setWordWrap(true);
    colourLabel->setFixedWidth(colourLabelRoom);
    colourLabel->setFixedHeight(colourLabel->heightForWidth(colourLabelRoom));
  }
  colourLabel->move(40, 181 - colourLabel->height() / 2);

  auto* popup = new QComboBox(root);
  popup->setObjectName(QStringLiteral("statusColorPopup"));
  popup->setGeometry(280, 168, 110, 26);
  popup->setIconSize(QSize(11, 11));
  const std::vector<StatusColorEntry>& colours = EjectSettings::statusColors();
  for (std::size_t index = 0; index < colours.size(); ++index) {
    const QString entryTitle = QString::fromStdString(colours[index].titre);
    if (const std::optional<RgbColor> rgb = EjectSettings::color(colours[index].hex)) {
      popup->addItem(swatch(*rgb), entryTitle, static_cast<int>(index));
    } else {
      popup->addItem(entryTitle, static_cast<int>(index));
    }
  }
  popup->setCurrentIndex(popup->findData(selectedColourTag()));
  connect(popup, &QComboBox::activated, this, [this, popup]() { statusColorChanged(popup); });

  card(root, QRect(24, 226, 382, 96));

  QCheckBox* autoUpdates = checkbox("settings.auto_update", root, {40, 238});
  autoUpdates->setObjectName(QStringLiteral("autoUpdateCheckbox"));
  autoUpdates->setChecked(updaterController.automaticallyChecksForUpdates() &&
                          updaterController.automaticallyDownloadsUpdates());
  connect(autoUpdates, &QCheckBox::clicked, this,
          [this, autoUpdates]() { toggleAutoUpdates(autoUpdates); });

  QCheckBox* menuBar = checkbox("settings.menu_bar_icon", root, {40, 266});
  menuBar->setChecked(menuBarMode());
  connect(menuBar, &QCheckBox::clicked, this, [this, menuBar]() { toggleMenuBarMode(menuBar); });
  menuBarCheckbox = menuBar;

  QCheckBox* login = checkbox("settings.launch_at_login", root, {40, 294});
  login->setChecked(loginItem().status() == LoginItemStatus::enabled);
  connect(login, &QCheckBox::clicked, this, [this, login]() { toggleLoginItem(login); });
  loginCheckbox = login;

  QPushButton* updates = pushButton("menu.check_updates", root);
  updates->setObjectName(QStringLiteral("checkUpdatesButton"));
  updates->move(24, 342);
  connect(updates, &QPushButton::clicked, &updaterController, &Updater::checkForUpdates);

  QPushButton* problem = pushButton("menu.report_problem", root);
  problem->setObjectName(QStringLiteral("reportProblemButton"));
  problem->move(updates->geometry().right() + 1 + 10, 342);
  connect(problem, &QPushButton::clicked, this, &AppDelegate::reportProblemPressed);

  auto* mark = new QLabel(root);
  mark->setObjectName(QStringLiteral("brandMark"));
  mark->setAlignment(Qt::AlignCenter);
  mark->setPixmap(brandMark(48));
  mark->setGeometry((viewWidth - 48) / 2, 462, 48, 48);

  const std::string version =
      *build_config::version != '\0' ? std::string(build_config::version) : std::string("?");
  QLabel* versionLine = makeLabel(QString::fromStdString(L("about.version_label", version)), 12,
                                  QFont::DemiBold, labelColor(), root);
  versionLine->setObjectName(QStringLiteral("versionLine"));
  theme->follow(versionLine, label);
  centreAt(versionLine, 520);

  QLabel* maker = makeLabel(QString::fromStdString(L("about.developed_by")), 11, QFont::Normal,
                            secondaryLabelColor(), root);
  maker->setObjectName(QStringLiteral("makerLine"));
  theme->follow(maker, secondary);
  centreAt(maker, 535);

  auto* link = new LinkButton(QString::fromUtf8(build_config::websiteName), root);
  link->setObjectName(QStringLiteral("websiteLink"));
  link->setToolTip(QString::fromUtf8(build_config::websiteUrl));
  centreAt(link, 563);
  connect(link, &QAbstractButton::clicked, this, &AppDelegate::openVarneloLabs);
  return root;
}

void AppDelegate::toggleDiskImages(QAbstractButton* sender) {
  // Only the next eject-all reads it; nothing on screen depends on it.
  EjectSettings::setEjectDiskImages(sender != nullptr && sender->isChecked());
}

void AppDelegate::toggleProtectTimeMachine(QAbstractButton* sender) {
  EjectSettings::setProtectTimeMachine(sender != nullptr && sender->isChecked());
  refreshVolumesUI();
}

void AppDelegate::statusColorChanged(QComboBox* sender) {
  if (sender == nullptr) {
    return;
  }
  bool isNumber = false;
  const int tag = sender->currentData().toInt(&isNumber);
  const std::vector<StatusColorEntry>& colours = EjectSettings::statusColors();
  if (!isNumber || tag < 0 || tag >= static_cast<int>(colours.size())) {
    return;
  }
  EjectSettings::setStatusColorHex(colours[static_cast<std::size_t>(tag)].hex);
  // Redraws the tray icon in the new colour.
  refreshVolumesUI();
}

void AppDelegate::toggleAutoUpdates(QAbstractButton* sender) {
  const bool on = sender != nullptr && sender->isChecked();
  updaterController.setAutomaticallyChecksForUpdates(on);
  updaterController.setAutomaticallyDownloadsUpdates(on);
}

void AppDelegate::toggleLoginItem(QAbstractButton* sender) {
  const bool on = sender != nullptr && sender->isChecked();
  LoginItem& item = loginItem();
  const LoginItemOutcome outcome = on ? item.registerItem() : item.unregisterItem();
  if (outcome.success) {
    return;
  }
  const std::string line = "VarneloEject: ouverture à la connexion: " + outcome.errorText;
  if (systemLog) {
    systemLog(line);
  } else {
    syslog(LOG_USER | LOG_WARNING, "%s", line.c_str());
  }
  // Show what the desktop will really do.
  if (sender != nullptr) {
    sender->setChecked(item.status() == LoginItemStatus::enabled);
  }
}

LoginItem& AppDelegate::loginItem() {
  if (loginItemService != nullptr) {
    return *loginItemService;
  }
  // The entry itself is read afresh at each status(); only its place is fixed for the run.
  static XdgAutostartLoginItem standard(
      XdgAutostartLoginItem::standardFolder(),
      XdgAutostartLoginItem::Entry{L("app.name"), XdgAutostartLoginItem::runningExecutable(),
                                   "varnelo-eject"});
  return standard;
}

void AppDelegate::openVarneloLabs() {
  openWebsite(build_config::websiteUrl);
}

bool AppDelegate::openWebsite(const std::string& address) {
  const QUrl url(QString::fromStdString(address), QUrl::StrictMode);
  if (!url.isValid() || url.isRelative() || url.host().isEmpty()) {
    return false;
  }
  if (urlOpener) {
    urlOpener(url);
  } else {
    QDesktopServices::openUrl(url);
  }
  return true;
}
