#include <functional>
#include <utility>

#include <QApplication>
#include <QCheckBox>
#include <QGridLayout>
#include <QIcon>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QScreen>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/app_delegate.h"
#include "core/localization.h"
#include "views/badge_image_view.h"
#include "views/palette.h"
#include "views/round_eject_button.h"
#include "views/symbols.h"
#include "views/volume_list_view.h"

namespace {

constexpr int iconSide = 92;

QToolButton* makeCornerButton(const QString& symbol, qreal pointSize, const QString& description,
                              QWidget* parent) {
  auto* button = new QToolButton(parent);
  button->setAutoRaise(true);
  button->setFocusPolicy(Qt::NoFocus);
  button->setFixedSize(30, 30);
  button->setIcon(QIcon(Symbols::pixmap(symbol, pointSize, QFont::Normal, secondaryLabelColor())));
  button->setIconSize(QSize(qRound(Symbols::side(pointSize)), qRound(Symbols::side(pointSize))));
  button->setToolTip(description);
  button->setAccessibleName(description);
  return button;
}

// Our own artwork, compiled into the program and installed for the desktop under the same name.
QIcon applicationIcon() {
  // Looking a symbol up makes sure the icon resources are loaded.
  if (!Symbols::exists(QStringLiteral("eject.fill"))) {
    return {};
  }
  return QIcon(QStringLiteral(":/icons/varnelo-eject.svg"));
}

// Calls back when the application's palette changes: the desktop switched between light and
// dark. Only the application object hears of it reliably.
class PaletteWatcher : public QObject {
 public:
  PaletteWatcher(std::function<void()> changed, QObject* parent)
      : QObject(parent), changed_(std::move(changed)) {
    qApp->installEventFilter(this);
  }

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == qApp && event->type() == QEvent::ApplicationPaletteChange) {
      changed_();
    }
    return false;
  }

 private:
  std::function<void()> changed_;
};

QPixmap applicationIconPixmap() {
  const QIcon icon = applicationIcon();
  const qreal ratio = qApp != nullptr ? qApp->devicePixelRatio() : 1.0;
  if (!icon.isNull()) {
    return icon.pixmap(QSize(iconSide, iconSide), ratio);
  }
  if (const auto mark = varneloMark()) {
    return QPixmap::fromImage(*mark).scaled(iconSide, iconSide, Qt::KeepAspectRatio,
                                            Qt::SmoothTransformation);
  }
  return {};
}

} // namespace

void AppDelegate::buildMainWindow() {
  auto* window = new QMainWindow();
  window->setAttribute(Qt::WA_DeleteOnClose, false);
  window->setWindowTitle(QString::fromStdString(L("app.name")));
  window->setWindowIcon(applicationIcon());
  window->installEventFilter(this);

  QWidget* main = buildMainView();
  QWidget* settings = buildSettingsView();
  settings->hide();
  mainView = main;
  settingsView = settings;

  // Both views fill the window, one on top of the other; only one is ever visible.
  auto* content = new QWidget(window);
  auto* stack = new QGridLayout(content);
  stack->setContentsMargins(0, 0, 0, 0);
  stack->addWidget(main, 0, 0);
  stack->addWidget(settings, 0, 0);
  window->setCentralWidget(content);

  if (mainMenu && !mainMenu->actions().isEmpty()) {
    window->setMenuBar(mainMenu);
  }

  // Not resizable; the title bar's minimise and close buttons stay.
  content->setFixedSize(winSize);
  window->layout()->setSizeConstraint(QLayout::SetFixedSize);
  window->adjustSize();
  if (QScreen* screen = QApplication::primaryScreen()) {
    QRect frame = window->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window->move(frame.topLeft());
  }
  mainWindow = window;
  applyActivationPolicy();

  if (!menuBarModeInEffect()) {
    bringMainWindowToFront();
  }
}

QWidget* AppDelegate::buildMainView() {
  auto* root = new QWidget();
  root->setFixedSize(winSize);

  auto* icon = new QLabel();
  icon->setObjectName(QStringLiteral("applicationIcon"));
  icon->setFixedSize(iconSide, iconSide);
  icon->setAlignment(Qt::AlignCenter);
  icon->setPixmap(applicationIconPixmap());

  QLabel* title = makeLabel(QString::fromStdString(L("app.name")), 24, QFont::Bold, labelColor());
  title->setObjectName(QStringLiteral("titleLabel"));
  QLabel* subtitle = makeLabel(QString::fromStdString(L("home.subtitle")), 13, QFont::Normal,
                               secondaryLabelColor());
  subtitle->setObjectName(QStringLiteral("subtitleLabel"));

  auto* button = new RoundEjectButton();
  button->setTitle(QString::fromStdString(L("eject.all_menu_item")));
  button->setToolTip(QString::fromStdString(L("eject.all_button_tooltip")));
  button->setFixedSize(230, 46);
  connect(button, &RoundEjectButton::clicked, this, &AppDelegate::ejectAllPressed);
  ejectButton = button;

  QLabel* summary = makeLabel(QString::fromStdString(L("eject.no_volumes")), 15, QFont::DemiBold,
                              tertiaryLabelColor());
  // The space after the summary goes with it when it is hidden, as a stack leaves out hidden
  // views together with their spacing.
  summary->setContentsMargins(0, 0, 0, 8);
  statusLabel = summary;

  auto* list = new VolumeListView(QRect(0, 0, 366, 120));
  list->setFixedSize(366, 120);
  QPointer<AppDelegate> self(this);
  list->onEjectRow = [self](const EjectableVolume& volume) {
    if (self) {
      self->ejectRow(volume);
    }
  };
  volumeList = list;

  // The stack of six, centred, with the spacing after each element.
  auto* stack = new QWidget();
  auto* column = new QVBoxLayout(stack);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  const std::pair<QWidget*, int> elements[] = {{icon, 12},   {title, 10},  {subtitle, 16},
                                               {button, 10}, {summary, 0}, {list, 0}};
  for (const auto& [element, spacingAfter] : elements) {
    column->addWidget(element, 0, Qt::AlignHCenter);
    if (spacingAfter > 0) {
      column->addSpacing(spacingAfter);
    }
  }

  // Settings and messages buttons in the bottom-right corner, the badge over the envelope.
  auto* corner = new QWidget();
  corner->setFixedSize(64, 30);
  QToolButton* messages =
      makeCornerButton(QStringLiteral("envelope.fill"), 15,
                       QString::fromStdString(L("accessibility.messages")), corner);
  messages->move(0, 0);
  connect(messages, &QToolButton::clicked, this, &AppDelegate::showMessages);
  QToolButton* gear = makeCornerButton(QStringLiteral("gearshape.fill"), 16,
                                       QString::fromStdString(L("settings.title")), corner);
  gear->move(34, 0);
  gear->setObjectName(QStringLiteral("settingsButton"));
  messages->setObjectName(QStringLiteral("messagesButton"));
  connect(gear, &QToolButton::clicked, this, &AppDelegate::showSettings);
  auto* badge = new BadgeImageView(corner);
  badge->setGeometry(30 - 7 - 7, 7 - 7, 14, 14);
  badge->setScaledContents(true);
  badge->hide();
  messagesButton = messages;
  messagesBadge = badge;

  // Centre of the stack 4 above the view's centre: 8 extra at the bottom of its cell.
  auto* grid = new QGridLayout(root);
  grid->setContentsMargins(0, 0, 0, 0);
  auto* stackCell = new QWidget();
  auto* stackCellLayout = new QVBoxLayout(stackCell);
  stackCellLayout->setContentsMargins(0, 0, 0, 8);
  stackCellLayout->addWidget(stack, 0, Qt::AlignCenter);
  grid->addWidget(stackCell, 0, 0);
  auto* cornerCell = new QWidget();
  auto* cornerCellLayout = new QVBoxLayout(cornerCell);
  cornerCellLayout->setContentsMargins(0, 0, 14, 14);
  cornerCellLayout->addWidget(corner, 0, Qt::AlignRight | Qt::AlignBottom);
  cornerCell->setAttribute(Qt::WA_TransparentForMouseEvents, false);
  grid->addWidget(cornerCell, 0, 0, Qt::AlignRight | Qt::AlignBottom);
  // Colours set by hand do not follow a theme change by themselves.
  new PaletteWatcher([this]() { applyMainViewColours(); }, root);
  return root;
}

void AppDelegate::applyMainViewColours() {
  if (!mainView) {
    return;
  }
  const auto recolour = [](QLabel* label, const QColor& colour) {
    if (label != nullptr) {
      QPalette palette = label->palette();
      palette.setColor(QPalette::WindowText, colour);
      palette.setColor(QPalette::Text, colour);
      label->setPalette(palette);
    }
  };
  recolour(mainView->findChild<QLabel*>(QStringLiteral("titleLabel")), labelColor());
  recolour(mainView->findChild<QLabel*>(QStringLiteral("subtitleLabel")), secondaryLabelColor());
  if (auto* gear = mainView->findChild<QToolButton*>(QStringLiteral("settingsButton"))) {
    gear->setIcon(QIcon(Symbols::pixmap(QStringLiteral("gearshape.fill"), 16, QFont::Normal,
                                        secondaryLabelColor())));
  }
  // The summary, the rows and the envelope take their colours when they are refreshed.
  refreshVolumesUI();
  refreshMessageBadges();
}

void AppDelegate::showSettings() {
  if (mainView) {
    mainView->hide();
  }
  if (settingsView) {
    settingsView->show();
  }
  // The desktop's own settings may have changed the entry since the last opening.
  if (loginCheckbox) {
    loginCheckbox->setChecked(loginItem().status() == LoginItemStatus::enabled);
  }
}

void AppDelegate::showMain() {
  if (settingsView) {
    settingsView->hide();
  }
  if (mainView) {
    mainView->show();
  }
}

void AppDelegate::closeOrBack() {
  if (settingsView && settingsView->isVisible()) {
    showMain();
    return;
  }
  if (mainWindow) {
    mainWindow->close();
  }
}
