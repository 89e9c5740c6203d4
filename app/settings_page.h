#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <QWidget>

class LoginItem;
class QCheckBox;
class QComboBox;
class QLabel;
class QToolButton;
class QUrl;
class Updater;
class Settings;
struct SettingKey;

// The settings page: eject settings, the tray colour, updates, display mode, launch at login,
// and the about block with the maker's site. Every change is stored at once.
class SettingsPage : public QWidget {
  Q_OBJECT

 public:
  struct Services {
    Settings& settings;
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
  // Its switches follow their keys, whoever changed them.
  void settingChanged(const QString& key);
  // The desktop's own settings may have changed the autostart entry since the last look.
  void reloadLoginItem();

 signals:
  void backRequested();
  void menuBarModeToggled(bool on);
  void reportProblemRequested();

 protected:
  void changeEvent(QEvent* event) override;

 private:
  // A switch showing the key; with `store`, clicking it stores the new state.
  QCheckBox* settingSwitch(const SettingKey& key, const char* titleKey, const char* objectName,
                           bool store = true);
  void toggleLoginItem(bool on);
  void applyThemeColours();

  Services services_;
  QToolButton* back_ = nullptr;
  QLabel* title_ = nullptr;
  QLabel* version_ = nullptr;
  QLabel* maker_ = nullptr;
  bool recolouring_ = false;
  std::vector<std::pair<const SettingKey*, QCheckBox*>> switches_;
  QCheckBox* menuBar_ = nullptr;
  QCheckBox* login_ = nullptr;
};
