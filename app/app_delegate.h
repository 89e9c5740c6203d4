#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <QObject>
#include <QPointer>
#include <QSize>
#include <QTimer>

#include "app/alert_presenter.h"
#include "app/display_environment.h"
#include "app/updater.h"
#include "core/eject_engine.h"
#include "platform/code_signature.h"
#include "platform/login_item.h"
#include "views/status_item_controller.h"

class BadgeImageView;
class LauncherBadge;
class QAbstractButton;
class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QMainWindow;
class QMenu;
class QMenuBar;
class QUrl;
class QWidget;
class RoundEjectButton;
class SupportClient;
class VolumeListView;

// The application shell: start-up and display mode, the main window, the eject commands, the
// menus and the settings view. One instance lives for the whole run. Its operations are split
// over app_delegate_*.cpp by concern.
class AppDelegate : public QObject {
  Q_OBJECT

 public:
  // Everything the shell works through, handed in so that tests can give fakes.
  struct Collaborators {
    EjectEngine& engine;
    AlertPresenter& alerts;
    DisplayEnvironment& display;
    CodeSignature& codeSignature;
    Updater& updater;
    // Uploads the last crash and installs the crash handlers.
    std::function<void()> installCrashReporter;
    // Ends the process at once; std::exit when empty.
    std::function<void(int status)> exitProcess;
    // Reads the process environment; getenv when empty.
    std::function<std::optional<std::string>(const std::string&)> environment;
  };

  static constexpr const char* menuBarModeKey = "VEMenuBarMode";
  static constexpr const char* onboardedKey = "VEOnboarded";
  static constexpr const char* debugSettingsVariable = "VARNELO_DEBUG_SETTINGS";
  static constexpr int serverSyncIntervalMs = 3600 * 1000;
  static constexpr double updateCheckIntervalSeconds = 3600;

  explicit AppDelegate(Collaborators collaborators, QObject* parent = nullptr);
  ~AppDelegate() override;

  // Start-up and display mode (app_delegate_startup.cpp).
  void applicationDidFinishLaunching();
  bool applicationShouldTerminateAfterLastWindowClosed() const;
  bool applicationShouldHandleReopen(bool hasVisibleWindows);
  bool windowShouldClose(QWidget* window);
  void applyDisplayMode();
  void toggleMenuBarMode(QAbstractButton* sender);
  void showOnboardingIfNeeded();
  void enableStatusItem();
  void refreshVolumesUI();
  void showMainWindow();
  // Whether the tray-only mode is actually in force: chosen, and the desktop has a tray.
  bool menuBarModeInEffect() const;
  // Sets the process up for the stored mode before any window exists.
  static void applyActivationPolicyAtStart();

  // Main window and main view (app_delegate_main_window.cpp).
  void buildMainWindow();
  QWidget* buildMainView();
  void showSettings();
  void showMain();
  void closeOrBack();

  // Eject commands and alerts (app_delegate_eject.cpp).
  void performEjectAll();
  void ejectAllPressed();
  void ejectOnePressed(QAction* item);
  void ejectRow(const EjectableVolume& volume);
  bool confirmeSiTimeMachine(const EjectableVolume& volume);
  void handleEjectFailure(const EjectEngine::EjectResult& result);

  // Menus (app_delegate_menus.cpp).
  void buildMenu();
  static QMenu* editMenuItem(QWidget* parent = nullptr);
  QMenu* buildStatusMenu();

  // Settings view (app_delegate_settings.cpp).
  QWidget* buildSettingsView();
  void toggleDiskImages(QAbstractButton* sender);
  void toggleProtectTimeMachine(QAbstractButton* sender);
  void statusColorChanged(QComboBox* sender);
  void toggleAutoUpdates(QAbstractButton* sender);
  void toggleLoginItem(QAbstractButton* sender);
  void openVarneloLabs();
  // Opens the address in the browser when it is a valid absolute URL; false otherwise.
  bool openWebsite(const std::string& address);
  // The application's own login item: the user's autostart entry unless one is set.
  LoginItem& loginItem();
  LoginItem* loginItemService = nullptr;
  // Where the one system log line goes; syslog(3) when empty.
  std::function<void(const std::string&)> systemLog;
  // Opens a web address; the desktop's browser when empty.
  std::function<void(const QUrl&)> urlOpener;

  // Problem reports (app_delegate_problem_report.cpp).
  void reportProblemPressed();

  // Messages (app_delegate_messages.cpp).
  void refreshMessageBadges();
  void syncWithServer();
  void showPendingMessage();
  void showMessages();
  void sendReply();
  // The server client the messages and reports go through: SupportClient::shared() unless
  // one is set.
  SupportClient& supportClient();
  SupportClient* supportService = nullptr;
  // The taskbar entry's unread badge: the launcher-entry signal unless one is set.
  LauncherBadge& launcherBadge();
  LauncherBadge* launcherBadgeService = nullptr;

  // The delegate's fields, in the order the rest of the program knows them.
  EjectEngine& engine;
  StatusItemController statusController;
  QPointer<QMainWindow> mainWindow;
  QPointer<RoundEjectButton> ejectButton;
  QPointer<QLabel> statusLabel;
  QPointer<VolumeListView> volumeList;
  QPointer<QCheckBox> loginCheckbox;
  QPointer<QCheckBox> dmgCheckbox;
  QPointer<QCheckBox> tmCheckbox;
  QPointer<QCheckBox> menuBarCheckbox;
  Updater& updaterController;
  QPointer<QAbstractButton> messagesButton;
  QPointer<BadgeImageView> messagesBadge;
  QPointer<QAction> appMessagesItem;
  QPointer<QWidget> messagesWindow;
  QPointer<QLineEdit> replyField;
  QPointer<QWidget> mainView;
  QPointer<QWidget> settingsView;
  QSize winSize{430, 589};

  // The main menu built by buildMenu(); the main window takes it over when it has items.
  QPointer<QMenuBar> mainMenu;
  // The hourly server sync.
  QTimer serverSyncTimer;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Brings the main window (if any) on screen, raised and focused.
  void bringMainWindowToFront();
  // Brings the main view's hand-set colours in line with the current theme.
  void applyMainViewColours();
  void activateIgnoringOtherApps();
  // Window flags and quit behaviour for the mode in effect: a taskbar window in Dock mode, a
  // window kept out of the taskbar in tray-only mode.
  void applyActivationPolicy();
  void applyDisplayMode(bool bringWindowForward);
  // Tells the user, once per run, why the window stays in the taskbar.
  void explainMissingTray();
  std::optional<std::string> environmentValue(const std::string& name) const;
  static bool menuBarMode();
  static void setMenuBarMode(bool value);

  AlertPresenter& alerts_;
  DisplayEnvironment& display_;
  CodeSignature& codeSignature_;
  std::function<void()> installCrashReporter_;
  std::function<void(int)> exitProcess_;
  std::function<std::optional<std::string>(const std::string&)> environment_;
  bool missingTrayExplained_ = false;
};
