#include "app/main_window.h"

#include <algorithm>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QIcon>
#include <QKeySequence>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedWidget>
#include <QTextEdit>

#include "app/home_page.h"
#include "app/settings_page.h"
#include "build_config.h"
#include "core/localization.h"
#include "views/localized_text.h"
#include "views/symbols.h"

namespace {

// Room left for the title bar the window manager adds, which is unknown before the first show.
constexpr int decorationAllowance = 40;

bool isTextField(const QWidget* widget) {
  return qobject_cast<const QLineEdit*>(widget) != nullptr ||
         qobject_cast<const QPlainTextEdit*>(widget) != nullptr ||
         qobject_cast<const QTextEdit*>(widget) != nullptr;
}

void sendToFocusedText(const char* method) {
  QWidget* focused = QApplication::focusWidget();
  if (focused != nullptr && isTextField(focused)) {
    QMetaObject::invokeMethod(focused, method);
  }
}

} // namespace

QMenu* MainWindow::createEditMenu(QWidget* parent) {
  auto* menu = new QMenu(text("menu.edit"), parent);
  menu->setObjectName(QStringLiteral("editMenu"));
  const struct {
    const char* title;
    const char* method;
    QKeySequence shortcut;
  } items[] = {
      {"edit.undo", "undo", QKeySequence(Qt::CTRL | Qt::Key_Z)},
      {"edit.redo", "redo", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)},
      {nullptr, nullptr, {}},
      {"edit.cut", "cut", QKeySequence(Qt::CTRL | Qt::Key_X)},
      {"edit.copy", "copy", QKeySequence(Qt::CTRL | Qt::Key_C)},
      {"edit.paste", "paste", QKeySequence(Qt::CTRL | Qt::Key_V)},
      {"edit.select_all", "selectAll", QKeySequence(Qt::CTRL | Qt::Key_A)},
  };
  QList<QAction*> actions;
  for (const auto& item : items) {
    if (item.title == nullptr) {
      menu->addSeparator();
      continue;
    }
    QAction* action = menu->addAction(text(item.title));
    action->setShortcut(item.shortcut);
    // Every window's text fields, not only the main one's; a field handles its own keys first.
    action->setShortcutContext(Qt::ApplicationShortcut);
    const char* method = item.method;
    connect(action, &QAction::triggered, menu, [method]() { sendToFocusedText(method); });
    actions.push_back(action);
  }
  const auto follow = [actions](QWidget*, QWidget* now) {
    for (QAction* action : actions) {
      action->setEnabled(isTextField(now));
    }
  };
  follow(nullptr, QApplication::focusWidget());
  connect(qApp, &QApplication::focusChanged, menu, follow);
  return menu;
}

MainWindow::MainWindow(HomePage* home, SettingsPage* settings, QWidget* parent)
    : QMainWindow(parent), home_(home), settings_(settings) {
  setWindowTitle(text("app.name"));
  if (Symbols::exists(QStringLiteral("eject.fill"))) {
    setWindowIcon(QIcon(QStringLiteral(":/icons/varnelo-eject.svg")));
  }
  pages_ = new QStackedWidget();
  // On a short screen (a laptop at 200 %) the page scrolls rather than letting its header
  // overlap; where there is room nothing shows of it.
  homeScroll_ = new QScrollArea();
  homeScroll_->setWidget(home_);
  homeScroll_->setWidgetResizable(true);
  homeScroll_->setFrameShape(QFrame::NoFrame);
  homeScroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  homeScroll_->setFocusPolicy(Qt::NoFocus);
  pages_->addWidget(homeScroll_);
  // When even its minimum height does not fit the screen (large fonts), the page scrolls
  // rather than letting its rows overlap.
  settingsScroll_ = new QScrollArea();
  settingsScroll_->setWidget(settings_);
  settingsScroll_->setWidgetResizable(true);
  settingsScroll_->setFrameShape(QFrame::NoFrame);
  settingsScroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  // The page's controls are the stops; the area would be a nameless one after the last.
  settingsScroll_->setFocusPolicy(Qt::NoFocus);
  pages_->addWidget(settingsScroll_);
  setCentralWidget(pages_);
  connect(home_, &HomePage::settingsRequested, this, &MainWindow::showSettings);
  connect(settings_, &SettingsPage::backRequested, this, &MainWindow::showHome);
  buildMenus();
  fitToScreen();
}

void MainWindow::buildMenus() {
  // Linux menu bars show every menu's title, so the application menu carries the name.
  QMenu* application = menuBar()->addMenu(text("app.name"));
  if (build_config::networkFeatures) {
    connect(application->addAction(text("menu.check_updates")), &QAction::triggered, this,
            &MainWindow::checkForUpdatesRequested);
    messagesAction_ = application->addAction(text("messages.banner_title"));
    messagesAction_->setVisible(false);
    connect(messagesAction_, &QAction::triggered, this, &MainWindow::messagesRequested);
    connect(application->addAction(text("menu.report_problem")), &QAction::triggered, this,
            &MainWindow::reportProblemRequested);
    application->addSeparator();
  }
  QAction* quit = application->addAction(text("menu.quit"));
  quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
  quit->setMenuRole(QAction::QuitRole);
  connect(quit, &QAction::triggered, this, &MainWindow::quitRequested);

  QMenu* file = menuBar()->addMenu(text("menu.file"));
  QAction* close = file->addAction(text("menu.close"));
  close->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_W));
  connect(close, &QAction::triggered, this, &MainWindow::closeOrBack);

  menuBar()->addMenu(createEditMenu(this));
}

bool MainWindow::showsSettings() const {
  return pages_->currentWidget() == settingsScroll_;
}

void MainWindow::showHome() {
  pages_->setCurrentWidget(homeScroll_);
}

void MainWindow::showSettings() {
  settings_->reloadLoginItem();
  pages_->setCurrentWidget(settingsScroll_);
}

void MainWindow::closeOrBack() {
  if (showsSettings()) {
    showHome();
    return;
  }
  close();
}

void MainWindow::setTicketOpen(bool open) {
  if (messagesAction_ != nullptr) {
    messagesAction_->setVisible(open);
  }
}

void MainWindow::fitToScreen() {
  QScreen* screen = this->screen() != nullptr ? this->screen() : QApplication::primaryScreen();
  // The settings page sits in a scroll area, whose own minimum says nothing of the page's.
  // So do the home page's.
  QSize wanted =
      defaultSize.expandedTo(minimumSizeHint())
          .expandedTo(QSize(settings_->minimumSizeHint().width(), 0))
          .expandedTo(home_->minimumSizeHint() + QSize(0, menuBar()->sizeHint().height()));
  // A wrapped label (long French texts, large fonts) needs more height than the minimum size
  // tells; ask the settings page at the width it will get.
  const int menuBarHeight = menuBar()->sizeHint().height();
  const int scrollBarWidth = settingsScroll_->verticalScrollBar()->sizeHint().width();
  // Asked as if the scroll bar were there, so that the page never needs it when the screen
  // has the room.
  const int settingsHeight = settings_->hasHeightForWidth()
                                 ? settings_->heightForWidth(wanted.width() - scrollBarWidth)
                                 : settings_->minimumSizeHint().height();
  wanted.setHeight(std::max(wanted.height(), settingsHeight + menuBarHeight));
  if (screen == nullptr) {
    setFixedSize(wanted);
    return;
  }
  const QRect available = screen->availableGeometry();
  const QSize room(available.width(), available.height() - decorationAllowance);
  if (wanted.height() > room.height()) {
    // The settings page will scroll: room for its scroll bar beside it.
    wanted.rwidth() += scrollBarWidth;
  }
  // Not resizable; the volume list is what shrinks when the screen is short.
  setFixedSize(wanted.boundedTo(room));
  QRect frame(QPoint(), size() + QSize(0, decorationAllowance));
  frame.moveCenter(available.center());
  frame.moveTop(std::max(frame.top(), available.top()));
  frame.moveLeft(std::max(frame.left(), available.left()));
  move(frame.topLeft());
}

void MainWindow::bringToFront() {
  if (isMinimized()) {
    showNormal();
  } else {
    show();
  }
  raise();
  activateWindow();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  QMainWindow::closeEvent(event);
  if (event->isAccepted()) {
    emit closedByUser();
  }
}
