#pragma once

#include <chrono>
#include <memory>
#include <optional>

#include <QColor>
#include <QIcon>
#include <QObject>
#include <QSystemTrayIcon>
#include <QTimer>

#include "core/ejectable_volume.h"

class QDBusServiceWatcher;
class QMenu;
class Settings;
class VolumeModel;

// The icon in the desktop's tray: the eject symbol in the user's colour while volumes are
// mounted, a symbolic one that stays visible on light and dark panels otherwise, with a summary
// tooltip. Only a plain left click (a panel's Activate) asks for eject-all. Its one context menu
// is handed to the tray, so StatusNotifierItem hosts get it over dbusmenu, and is rebuilt each
// time it opens. It follows its panel: it says so when a StatusNotifierWatcher goes for good.
class TrayIcon : public QObject {
  Q_OBJECT

 public:
  enum class Click { ejectAll, openMenu, nothing };

  // The icon's colour is read from the settings at each refresh.
  TrayIcon(VolumeModel& model, const Settings& settings, QObject* parent = nullptr);
  ~TrayIcon() override;

  void setVisible(bool visible);
  bool isVisible() const;
  QMenu* menu() const { return menu_.get(); }
  QSystemTrayIcon& systemTrayIcon() { return icon_; }

  // The symbol for panels of any colour: a light glyph with a dark outline.
  static QIcon contrastIcon();
  // The mounted-state symbol: the chosen colour inside a light outline, for dark panels.
  static QIcon colourIcon(const QColor& colour);
  // What a click on the icon does. A Control-click asks for the menu, which we can place only
  // where the pointer is known (X11); elsewhere it does nothing rather than eject.
  static Click clickAction(QSystemTrayIcon::ActivationReason reason,
                           Qt::KeyboardModifiers modifiers, const QString& platform);
  // What a menu shows `title` as, whichever kind of tray draws it.
  static QString menuItemText(QString title, bool dbusMenu);

  // True when a StatusNotifierItem panel holds the menu: it shows the list as it changes.
  bool menuExported() { return statusNotifierHost(); }
  // True once a StatusNotifierItem panel went away and none came back within the grace time.
  bool isPanelLost() const { return panelLost_; }
  void setPanelGrace(std::chrono::milliseconds grace) { panelGrace_.setInterval(grace); }

 public slots:
  // Redraws the icon and tooltip from the model and the stored colour.
  void refresh();
  // While an ejection runs the tooltip says so; during a batch nothing new can start.
  void setBusy(bool busy);
  void setEjecting(bool ejecting);
  void setMessagePending(bool pending) { messagePending_ = pending; }
  void activate(QSystemTrayIcon::ActivationReason reason);

 signals:
  void ejectAllRequested();
  void ejectVolumeRequested(const EjectableVolume& volume);
  void messagesRequested();
  void openRequested();
  void checkForUpdatesRequested();
  void reportProblemRequested();
  void quitRequested();
  // The panel went away and did not come back: the window is the only way in.
  void panelLost();

 private:
  void rebuildMenu();
  void fillMenu(QMenu& menu, bool dbusMenu);
  const QIcon& plainIcon();
  bool statusNotifierHost();
  const QIcon& cachedColourIcon(const QColor& colour);
  void followWatcher(bool present);

  VolumeModel& model_;
  const Settings& settings_;
  QSystemTrayIcon icon_;
  std::unique_ptr<QMenu> menu_;
  // The menu a Control-click opens where the panel's own is exported over dbusmenu.
  std::unique_ptr<QMenu> popup_;
  bool busy_ = false;
  bool ejecting_ = false;
  bool panelLost_ = false;
  QDBusServiceWatcher* watcher_ = nullptr;
  QTimer panelGrace_;
  bool messagePending_ = false;
  std::optional<bool> statusNotifierHost_;
  // Each state's icon is drawn once and handed to the tray only when the state changes: the
  // tray redraws whatever it is given.
  std::optional<QIcon> plainIcon_;
  QIcon colourIcon_;
  QColor colourIconColour_;
  bool iconSet_ = false;
  std::optional<QColor> shownColour_;
};
