#pragma once

#include <functional>
#include <string>

#include <QWidget>

class LoginItem;
class QCheckBox;
class QComboBox;
class QLabel;
class QToolButton;
class QUrl;
class Updater;

// The settings page: eject settings, the tray colour, updates, display mode, launch at login,
// and the about block with the maker's site. Every change is stored at once.
class SettingsPage : public QWidget {
  Q_OBJECT

 public:
  struct Services {
    Updater& updater;
    LoginItem& loginItem;
    // Where the one log line goes when the login item cannot be changed.
    std::function<void(const std::string&)> systemLog;
    std::function<void(const QUrl&)> openUrl;
  };

  explicit SettingsPage(Services services, QWidget* parent = nullptr);

  // Opens the address in the browser when it is a valid absolute web address; false otherwise.
  bool openWebsite(const std::string& address);

 public slots:
  void setMenuBarMode(bool on);
  // The desktop's own settings may have changed the autostart entry since the last look.
  void reloadLoginItem();

 signals:
  void backRequested();
  void menuBarModeToggled(bool on);
  // The backup protection or the tray colour changed: the volume views redraw.
  void appearanceChanged();
  void reportProblemRequested();

 protected:
  void changeEvent(QEvent* event) override;

 private:
  void toggleLoginItem(bool on);
  void applyThemeColours();

  Services services_;
  QToolButton* back_ = nullptr;
  QLabel* title_ = nullptr;
  QLabel* version_ = nullptr;
  QLabel* maker_ = nullptr;
  bool recolouring_ = false;
  QCheckBox* menuBar_ = nullptr;
  QCheckBox* login_ = nullptr;
};
