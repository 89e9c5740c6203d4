#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <QObject>

#include "app/alert_presenter.h"
#include "app/display_environment.h"
#include "core/eject_engine.h"

class CodeSignature;
class DesktopNotifier;
class Dispatcher;
class DisplayModeController;
class EjectController;
class LauncherBadge;
class LoginItem;
class MainWindow;
class MessagesController;
class QUrl;
class Settings;
class SettingsNotifier;
class SupportClient;
class TrayIcon;
class Updater;
class VolumeModel;

// The desktop shell: creates the window, the tray icon and the controllers over the pieces it
// is given, connects them, and runs the launch sequence.
class Application : public QObject {
  Q_OBJECT

 public:
  struct Services {
    EjectEngine& engine;
    Settings& settings;
    AlertPresenter& alerts;
    DisplayEnvironment& display;
    CodeSignature& codeSignature;
    Updater& updater;
    SupportClient& supportClient;
    LauncherBadge& launcherBadge;
    LoginItem& loginItem;
    DesktopNotifier& notifier;
    // Notifications leave the GUI thread through it: they are D-Bus calls.
    Dispatcher& dispatcher;
    // Uploads the last crash and installs the crash handlers.
    std::function<void()> installCrashReporter;
    // Ends the process at once (a failed signature check).
    std::function<void(int status)> exitProcess;
    std::function<std::optional<std::string>(const std::string&)> environment;
    std::function<void(const std::string&)> systemLog;
    std::function<void(const QUrl&)> openUrl;
    // Leaves the event loop; QCoreApplication::exit(0) when empty.
    std::function<void()> endEventLoop;
    // How long after launch the first check with the server waits.
    std::chrono::milliseconds firstServerCheckAfter{};
  };

  static constexpr const char* debugSettingsVariable = "VARNELO_DEBUG_SETTINGS";
  static constexpr double updateCheckIntervalSeconds = 3600;

  explicit Application(Services services, QObject* parent = nullptr);
  ~Application() override;

  // Everything that happens once the event loop runs, in order.
  void launch();

  // Null until the window is first needed: in tray mode, until it is first shown.
  MainWindow* mainWindow() const { return window_.get(); }
  TrayIcon& trayIcon() const { return *tray_; }
  EjectController& ejectController() const { return *eject_; }
  DisplayModeController* displayMode() const { return displayMode_.get(); }
  MessagesController& messages() const { return *messages_; }

 public slots:
  // Another launch asked for us.
  void reopen();
  // Ends the program without touching any setting.
  void quit();

 private:
  // The window, built on first use.
  MainWindow& window();
  void buildWindow();
  void showVolumes();
  void notifySafeToRemove(const EjectableVolume& volume, bool partial);
  void settingChanged(const QString& key);

  Services services_;
  std::unique_ptr<SettingsNotifier> settingsNotifier_;
  std::unique_ptr<VolumeModel> model_;
  std::unique_ptr<EjectController> eject_;
  std::unique_ptr<TrayIcon> tray_;
  std::unique_ptr<MessagesController> messages_;
  std::unique_ptr<MainWindow> window_;
  std::unique_ptr<DisplayModeController> displayMode_;
};
