#include <QAction>
#include <QApplication>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QMetaObject>
#include <QPixmap>

#include "app/app_delegate.h"
#include "core/localization.h"
#include "core/support/support_client.h"
#include "views/palette.h"

namespace {

QString text(const char* key) {
  return QString::fromStdString(L(key));
}

// What the first responder would do: the focused text field (line or multi-line) performs the
// standard edit; anything else ignores it.
void sendToFocusedText(const char* method) {
  QWidget* focused = QApplication::focusWidget();
  if (focused == nullptr) {
    return;
  }
  const QMetaObject* meta = focused->metaObject();
  const QByteArray signature = QByteArray(method) + "()";
  if (meta->indexOfMethod(signature.constData()) >= 0) {
    QMetaObject::invokeMethod(focused, method);
  }
}

// A menu item shows a volume's name as it is: "&" would otherwise mark a shortcut letter and
// a tab would split off a shortcut column.
QString menuItemText(const std::string& title) {
  QString result = QString::fromStdString(title);
  result.replace(QLatin1Char('&'), QStringLiteral("&&"));
  for (QChar& character : result) {
    if (character == QLatin1Char('\t') || character == QLatin1Char('\n') ||
        character == QLatin1Char('\r')) {
      character = QLatin1Char(' ');
    }
  }
  return result;
}

QAction* editAction(QMenu* menu, const char* titleKey, const char* method,
                    const QKeySequence& shortcut) {
  QAction* action = menu->addAction(text(titleKey));
  action->setShortcut(shortcut);
  // Text fields of every window of the program, not only the main one; a field that handles
  // the key itself gets it first.
  action->setShortcutContext(Qt::ApplicationShortcut);
  QObject::connect(action, &QAction::triggered, menu, [method]() { sendToFocusedText(method); });
  return action;
}

} // namespace

QMenu* AppDelegate::editMenuItem(QWidget* parent) {
  auto* menu = new QMenu(text("menu.edit"), parent);
  menu->setObjectName(QStringLiteral("editMenu"));
  editAction(menu, "edit.undo", "undo", QKeySequence(Qt::CTRL | Qt::Key_Z));
  editAction(menu, "edit.redo", "redo", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z));
  menu->addSeparator();
  editAction(menu, "edit.cut", "cut", QKeySequence(Qt::CTRL | Qt::Key_X));
  editAction(menu, "edit.copy", "copy", QKeySequence(Qt::CTRL | Qt::Key_C));
  editAction(menu, "edit.paste", "paste", QKeySequence(Qt::CTRL | Qt::Key_V));
  editAction(menu, "edit.select_all", "selectAll", QKeySequence(Qt::CTRL | Qt::Key_A));
  return menu;
}

// Built once; the main window takes the bar over.
void AppDelegate::buildMenu() {
  if (mainMenu) {
    return;
  }
  auto* bar = new QMenuBar();

  // Linux menu bars show every menu's title, so the application menu carries the name.
  QMenu* application = bar->addMenu(text("app.name"));
  application->setObjectName(QStringLiteral("applicationMenu"));
  QAction* updates = application->addAction(text("menu.check_updates"));
  connect(updates, &QAction::triggered, &updaterController, &Updater::checkForUpdates);
  QAction* messages = application->addAction(text("messages.banner_title"));
  messages->setVisible(false);
  connect(messages, &QAction::triggered, this, &AppDelegate::showMessages);
  appMessagesItem = messages;
  QAction* problem = application->addAction(text("menu.report_problem"));
  connect(problem, &QAction::triggered, this, &AppDelegate::reportProblemPressed);
  application->addSeparator();
  QAction* quit = application->addAction(text("menu.quit"));
  quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
  quit->setMenuRole(QAction::QuitRole);
  connect(quit, &QAction::triggered, qApp, &QCoreApplication::quit, Qt::QueuedConnection);

  QMenu* file = bar->addMenu(text("menu.file"));
  file->setObjectName(QStringLiteral("fileMenu"));
  QAction* close = file->addAction(text("menu.close"));
  // Only while the main window is the active one: other windows close themselves.
  close->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_W));
  connect(close, &QAction::triggered, this, &AppDelegate::closeOrBack);

  bar->addMenu(editMenuItem(bar));
  mainMenu = bar;
}

QMenu* AppDelegate::buildStatusMenu() {
  auto* menu = new QMenu();
  const std::vector<EjectableVolume>& volumes = engine.volumes();

  QAction* ejectAll = menu->addAction(text("eject.all_menu_item"));
  ejectAll->setEnabled(!volumes.empty());
  connect(ejectAll, &QAction::triggered, this, &AppDelegate::ejectAllPressed);
  if (!volumes.empty()) {
    menu->addSeparator();
  }
  for (const EjectableVolume& volume : volumes) {
    QAction* item = menu->addAction(menuItemText(L("eject.volume_action", volume.name)));
    item->setData(QString::fromStdString(volume.id));
    connect(item, &QAction::triggered, this, [this, item]() { ejectOnePressed(item); });
  }
  menu->addSeparator();
  if (supportClient().pendingMessage) {
    QAction* message = menu->addAction(text("messages.banner_title"));
    message->setIcon(QIcon(QPixmap::fromImage(quotaBadgeImage(1, 13))));
    connect(message, &QAction::triggered, this, &AppDelegate::showMessages);
  }
  QAction* open = menu->addAction(text("menu.open_app"));
  connect(open, &QAction::triggered, this, &AppDelegate::showMainWindow);
  menu->addSeparator();
  QAction* updates = menu->addAction(text("menu.check_updates"));
  connect(updates, &QAction::triggered, &updaterController, &Updater::checkForUpdates);
  QAction* problem = menu->addAction(text("menu.report_problem"));
  connect(problem, &QAction::triggered, this, &AppDelegate::reportProblemPressed);
  menu->addSeparator();
  QAction* quit = menu->addAction(text("menu.quit"));
  quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
  connect(quit, &QAction::triggered, qApp, &QCoreApplication::quit, Qt::QueuedConnection);
  return menu;
}
