#pragma once

#include <memory>
#include <optional>

#include <QColor>
#include <QIcon>
#include <QObject>
#include <QSystemTrayIcon>

#include "core/ejectable_volume.h"

class QMenu;
class VolumeModel;

// The icon in the desktop's tray: the eject symbol in the user's colour while volumes are
// mounted, a symbolic one that stays visible on light and dark panels otherwise, with a summary
// tooltip. Activating it (a left click) asks for eject-all. Its one context menu is handed to the
// tray, so StatusNotifierItem hosts get it over dbusmenu, and is rebuilt each time it opens.
class TrayIcon : public QObject {
  Q_OBJECT

 public:
  explicit TrayIcon(VolumeModel& model, QObject* parent = nullptr);
  ~TrayIcon() override;

  void setVisible(bool visible);
  bool isVisible() const;
  QMenu* menu() const { return menu_.get(); }
  QSystemTrayIcon& systemTrayIcon() { return icon_; }
  // True while the icon shows the chosen colour rather than the panel-following symbol.
  bool showsColour() const { return showsColour_; }

  // The symbol for panels of any colour: a light glyph with a dark outline.
  static QIcon contrastIcon();

 public slots:
  // Redraws the icon and tooltip from the model and the stored colour.
  void refresh();
  void setBusy(bool busy) { busy_ = busy; }
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

 private:
  void rebuildMenu();
  const QIcon& plainIcon();
  bool statusNotifierHost();
  const QIcon& colourIcon(const QColor& colour);

  VolumeModel& model_;
  QSystemTrayIcon icon_;
  std::unique_ptr<QMenu> menu_;
  bool busy_ = false;
  bool messagePending_ = false;
  bool showsColour_ = false;
  std::optional<bool> statusNotifierHost_;
  // Each state's icon is drawn once and handed to the tray only when the state changes: the
  // tray redraws whatever it is given.
  std::optional<QIcon> plainIcon_;
  QIcon colourIcon_;
  QColor colourIconColour_;
  bool iconSet_ = false;
  std::optional<QColor> shownColour_;
};
