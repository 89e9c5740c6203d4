#pragma once

#include <functional>
#include <string>

#include <QImage>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QSystemTrayIcon>

// The application's icon in the desktop's tray: a filled eject symbol in the user's status
// colour while volumes are mounted, a plain monochrome one otherwise, with a summary tooltip.
// A left click asks for eject-all; a right click, or a left click with Control held, opens the
// status menu, built afresh each time. It knows nothing of volumes or menus itself.
class StatusItemController : public QObject {
  Q_OBJECT

 public:
  explicit StatusItemController(QObject* parent = nullptr);
  ~StatusItemController() override;

  // Builds a new menu each time it is to be shown; the controller deletes it once it closes.
  using MenuProvider = std::function<QMenu*()>;

  // Runs the application's eject-all command.
  std::function<void()> onEjectAll;
  // The tooltip while volumes are mounted. Setting it does not redraw; the next
  // setVolumeCount() or enable() picks it up.
  std::string volumeSummary;

  bool isEnabled() const { return statusItem_ != nullptr; }
  bool hasVolumes() const { return hasVolumes_; }

  // Stores the menu callback (replacing any earlier one), creates the tray icon if there is
  // none and redraws it.
  void enable(MenuProvider menuProvider);
  // Removes the tray icon. Callbacks, volume state and summary stay for a later enable().
  void disable();
  // count > 0 means volumes are mounted; then redraws.
  void setVolumeCount(int count);

  // The tray icon's activation. Public so that tests can click without a tray.
  void clicked(QSystemTrayIcon::ActivationReason reason, Qt::KeyboardModifiers modifiers);

  // What the tray currently shows (tests and diagnostics).
  QSystemTrayIcon* statusItem() const { return statusItem_; }
  const QImage& iconImage() const { return iconImage_; }
  // True when the icon follows the panel's monochrome look rather than a chosen colour.
  bool isTemplateIcon() const { return templateIcon_; }
  QString toolTip() const;
  bool isMenuAttached() const;
  // The status menu while it is open.
  QMenu* openMenu() const { return openMenu_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void refreshIcon();
  void showMenu();

  QSystemTrayIcon* statusItem_ = nullptr;
  bool hasVolumes_ = false;
  MenuProvider menuProvider_;
  QImage iconImage_;
  bool templateIcon_ = true;
  QPointer<QMenu> openMenu_;
};
