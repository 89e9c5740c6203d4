#include "app/settings_page.h"

#include <cmath>
#include <optional>
#include <vector>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include "app/updater.h"
#include "build_config.h"
#include "core/settings.h"
#include "core/localization.h"
#include "views/localized_text.h"
#include "platform/login_item.h"
#include "views/palette.h"
#include "views/symbols.h"

namespace {

// A rounded box around a group of controls.
class SettingsCard : public QWidget {
 public:
  SettingsCard() {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(16, 12, 16, 12);
    column->setSpacing(8);
  }
  QVBoxLayout* column() const { return static_cast<QVBoxLayout*>(layout()); }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor fill = labelColor(palette());
    fill.setAlphaF(0.05f);
    QColor border = labelColor(palette());
    border.setAlphaF(0.08f);
    painter.setPen(QPen(border, 1));
    painter.setBrush(fill);
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 10, 10);
  }
};

// The maker's site as a bare coloured title; it dims while pressed instead of showing a bezel.
class LinkButton : public QAbstractButton {
 public:
  explicit LinkButton(const QString& title) {
    setText(title);
    setAccessibleName(title);
    setFont(systemFont(12, QFont::DemiBold));
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
  }

  QSize sizeHint() const override {
    const QFontMetrics metrics(font());
    return {metrics.horizontalAdvance(text()) + 8, metrics.height() + 4};
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
    if (hasFocus()) {
      painter.setPen(QPen(palette().color(QPalette::Highlight), 1, Qt::DotLine));
      painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
  }
};

// An 11 x 11 filled circle, sharp on high-density screens.
QIcon swatch(const RgbColor& rgb) {
  const qreal ratio = qApp->devicePixelRatio();
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
int selectedColourIndex(const Settings& settings) {
  const std::string current = settings.statusColorHex();
  const std::vector<StatusColorEntry>& colours = settings.statusColors();
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
  const qreal ratio = qApp->devicePixelRatio();
  const int pixels = static_cast<int>(std::ceil(side * ratio));
  QPixmap pixmap = QPixmap::fromImage(
      mark->scaled(pixels, pixels, Qt::KeepAspectRatio, Qt::SmoothTransformation));
  pixmap.setDevicePixelRatio(ratio);
  return pixmap;
}

} // namespace

SettingsPage::SettingsPage(Services services, QWidget* parent)
    : QWidget(parent), services_(std::move(services)) {
  back_ = new QToolButton();
  back_->setObjectName(QStringLiteral("backButton"));
  back_->setAutoRaise(true);
  back_->setFocusPolicy(Qt::StrongFocus);
  back_->setMinimumSize(28, 28);
  back_->setToolTip(text("accessibility.back"));
  back_->setAccessibleName(back_->toolTip());
  back_->setShortcut(QKeySequence(Qt::Key_Escape));
  connect(back_, &QToolButton::clicked, this, &SettingsPage::backRequested);
  QLabel* title = makeLabel(text("settings.title"), 20, QFont::Bold, labelColor());
  title_ = title;
  title->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  auto* header = new QHBoxLayout();
  header->setSpacing(8);
  header->addWidget(back_);
  header->addWidget(title, 1);

  auto* ejectCard = new SettingsCard();
  Settings& settings = services_.settings;
  auto* diskImages = settingSwitch(setting_keys::ejectDiskImages, "settings.eject_disk_images",
                                   "diskImagesCheckbox");
  auto* protect = settingSwitch(setting_keys::protectTimeMachine, "settings.protect_time_machine",
                                "protectCheckbox");
  auto* colours = new QComboBox();
  colours->setObjectName(QStringLiteral("statusColorPopup"));
  colours->setMinimumWidth(110);
  colours->setIconSize(QSize(11, 11));
  const std::vector<StatusColorEntry>& table = settings.statusColors();
  for (const StatusColorEntry& entry : table) {
    const std::optional<RgbColor> rgb = colorFromHex(entry.hex);
    colours->addItem(rgb ? swatch(*rgb) : QIcon(), QString::fromStdString(entry.titre));
  }
  colours->setCurrentIndex(selectedColourIndex(settings));
  connect(colours, &QComboBox::activated, this, [&settings = services_.settings](int index) {
    const std::vector<StatusColorEntry>& entries = settings.statusColors();
    if (index >= 0 && index < static_cast<int>(entries.size())) {
      settings.setStatusColorHex(entries[static_cast<std::size_t>(index)].hex);
    }
  });
  auto* colourRow = new QFormLayout();
  colourRow->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
  colourRow->setRowWrapPolicy(QFormLayout::WrapLongRows);
  colourRow->addRow(text("settings.color_when_mounted"), colours);
  auto* notify = settingSwitch(setting_keys::notifyWhenSafe, "settings.notify_when_safe",
                               "notifyWhenSafeCheckbox");
  ejectCard->column()->addWidget(diskImages);
  ejectCard->column()->addWidget(protect);
  ejectCard->column()->addWidget(notify);
  ejectCard->column()->addLayout(colourRow);

  auto* appCard = new SettingsCard();
  // The display-mode controller stores the mode as it switches.
  menuBar_ =
      settingSwitch(setting_keys::menuBarMode, "settings.menu_bar_icon", "menuBarCheckbox", false);
  connect(menuBar_, &QCheckBox::clicked, this, &SettingsPage::menuBarModeToggled);
  login_ = new QCheckBox(text("settings.launch_at_login"));
  login_->setObjectName(QStringLiteral("loginCheckbox"));
  connect(login_, &QCheckBox::clicked, this, &SettingsPage::toggleLoginItem);
  auto* buttons = new QHBoxLayout();
  buttons->setSpacing(10);
  // A build without the network features shows nothing that would talk to a server.
  if (build_config::networkFeatures) {
    auto* autoUpdates = new QCheckBox(text("settings.auto_update"));
    autoUpdates->setObjectName(QStringLiteral("autoUpdateCheckbox"));
    autoUpdates->setChecked(services_.updater.automaticUpdates());
    connect(autoUpdates, &QCheckBox::clicked, &services_.updater, &Updater::setAutomaticUpdates);
    auto* serverContact =
        settingSwitch(setting_keys::automaticServerContact, "settings.automatic_server_contact",
                      "serverContactCheckbox");
    appCard->column()->addWidget(autoUpdates);
    appCard->column()->addWidget(serverContact);

    auto* updates = new QPushButton(text("menu.check_updates"));
    updates->setObjectName(QStringLiteral("checkUpdatesButton"));
    connect(updates, &QPushButton::clicked, &services_.updater, &Updater::checkForUpdates);
    auto* problem = new QPushButton(text("menu.report_problem"));
    problem->setObjectName(QStringLiteral("reportProblemButton"));
    connect(problem, &QPushButton::clicked, this, &SettingsPage::reportProblemRequested);
    buttons->addWidget(updates);
    buttons->addWidget(problem);
  }
  buttons->addStretch(1);
  appCard->column()->addWidget(menuBar_);
  // Panels treat the icon's clicks their own way; say how, so nobody ejects by surprise.
  QLabel* clicks =
      makeLabel(text("settings.tray_clicks"), 11, QFont::Normal, secondaryLabelColor());
  clicks->setWordWrap(true);
  clicks->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  appCard->column()->addWidget(clicks);
  appCard->column()->addWidget(login_);

  auto* mark = new QLabel();
  mark->setAlignment(Qt::AlignCenter);
  mark->setPixmap(brandMark(48));
  mark->setMinimumSize(48, 48);
  const std::string version =
      *build_config::version != '\0' ? std::string(build_config::version) : std::string("?");
  QLabel* versionLine = makeLabel(QString::fromStdString(L("about.version_label", version)), 12,
                                  QFont::DemiBold, labelColor());
  versionLine->setObjectName(QStringLiteral("versionLine"));
  version_ = versionLine;
  QLabel* maker = makeLabel(text("about.developed_by"), 11, QFont::Normal, secondaryLabelColor());
  maker->setObjectName(QStringLiteral("makerLine"));
  maker_ = maker;
  auto* link = new LinkButton(QString::fromUtf8(build_config::websiteName));
  link->setObjectName(QStringLiteral("websiteLink"));
  link->setToolTip(QString::fromUtf8(build_config::websiteUrl));
  connect(link, &QAbstractButton::clicked, this,
          [this]() { openWebsite(build_config::websiteUrl); });

  auto* page = new QVBoxLayout(this);
  page->setContentsMargins(24, 40, 24, 18);
  page->setSpacing(16);
  page->addLayout(header);
  page->addWidget(ejectCard);
  page->addWidget(appCard);
  page->addLayout(buttons);
  page->addStretch(1);
  page->addWidget(mark, 0, Qt::AlignHCenter);
  page->addSpacing(-8);
  page->addWidget(versionLine);
  page->addWidget(maker);
  page->addWidget(link, 0, Qt::AlignHCenter);
  applyThemeColours();
}

QCheckBox* SettingsPage::settingSwitch(const SettingKey& key, const char* titleKey,
                                       const char* objectName, bool store) {
  auto* box = new QCheckBox(text(titleKey));
  box->setObjectName(QString::fromLatin1(objectName));
  box->setChecked(services_.settings.boolean(key));
  if (store) {
    connect(box, &QCheckBox::clicked, this,
            [&settings = services_.settings, &key](bool on) { settings.set(key, on); });
  }
  switches_.emplace_back(&key, box);
  return box;
}

void SettingsPage::settingChanged(const QString& key) {
  for (const auto& [setting, box] : switches_) {
    if (key == QLatin1String(setting->name)) {
      box->setChecked(services_.settings.boolean(*setting));
    }
  }
}

void SettingsPage::reloadLoginItem() {
  login_->setChecked(services_.loginItem.status() == LoginItemStatus::enabled);
}

void SettingsPage::toggleLoginItem(bool on) {
  LoginItem& item = services_.loginItem;
  const LoginItemOutcome outcome = on ? item.registerItem() : item.unregisterItem();
  if (outcome.success) {
    return;
  }
  if (services_.systemLog) {
    services_.systemLog("VarneloEject: ouverture à la connexion: " + outcome.errorText);
  }
  // Show what the desktop will really do.
  reloadLoginItem();
}

bool SettingsPage::openWebsite(const std::string& address) {
  const QUrl url(QString::fromStdString(address), QUrl::StrictMode);
  if (!url.isValid() || url.isRelative() || url.host().isEmpty()) {
    return false;
  }
  if (services_.openUrl) {
    services_.openUrl(url);
  } else {
    QDesktopServices::openUrl(url);
  }
  return true;
}

void SettingsPage::applyThemeColours() {
  // Colours set by hand do not follow a light/dark switch by themselves.
  setLabelColor(title_, labelColor());
  setLabelColor(version_, labelColor());
  setLabelColor(maker_, secondaryLabelColor());
  back_->setIcon(QIcon(
      Symbols::pixmap(QStringLiteral("chevron.left"), 15, QFont::DemiBold, secondaryLabelColor())));
  back_->setIconSize(QSize(qRound(Symbols::side(15)), qRound(Symbols::side(15))));
}

void SettingsPage::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::PaletteChange && !recolouring_) {
    recolouring_ = true;
    applyThemeColours();
    recolouring_ = false;
  }
}
