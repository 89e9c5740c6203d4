#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>

#include "app/app_delegate.h"
#include "core/localization.h"

// The main menu; its items come with the menus of the application.
void AppDelegate::buildMenu() {
  if (!mainMenu) {
    mainMenu = new QMenuBar();
  }
}

QMenu* AppDelegate::buildStatusMenu() {
  auto* menu = new QMenu();
  const std::vector<EjectableVolume>& volumes = engine.volumes();

  QAction* ejectAll = menu->addAction(QString::fromStdString(L("eject.all_menu_item")));
  ejectAll->setEnabled(!volumes.empty());
  connect(ejectAll, &QAction::triggered, this, &AppDelegate::ejectAllPressed);
  if (!volumes.empty()) {
    menu->addSeparator();
  }
  for (const EjectableVolume& volume : volumes) {
    QAction* item = menu->addAction(QString::fromStdString(L("eject.volume_action", volume.name)));
    item->setData(QString::fromStdString(volume.id));
    connect(item, &QAction::triggered, this, [this, item]() { ejectOnePressed(item); });
  }
  menu->addSeparator();
  QAction* open = menu->addAction(QString::fromStdString(L("menu.open_app")));
  connect(open, &QAction::triggered, this, &AppDelegate::showMainWindow);
  menu->addSeparator();
  QAction* updates = menu->addAction(QString::fromStdString(L("menu.check_updates")));
  connect(updates, &QAction::triggered, &updaterController, &Updater::checkForUpdates);
  menu->addSeparator();
  QAction* quit = menu->addAction(QString::fromStdString(L("menu.quit")));
  connect(quit, &QAction::triggered, qApp, &QApplication::quit);
  return menu;
}
