#include "app/application.h"

#include <cstdlib>

#include <QCoreApplication>

#include "app/display_mode_controller.h"
#include "app/eject_controller.h"
#include "app/home_page.h"
#include "app/main_window.h"
#include "app/messages_controller.h"
#include "app/settings_notifier.h"
#include "app/settings_page.h"
#include "app/tray_icon.h"
#include "app/updater.h"
#include "app/volume_model.h"
#include "build_config.h"
#include "core/settings.h"
#include "core/localization.h"
#include "platform/code_signature.h"
#include "platform/desktop_notifier.h"
#include "platform/dispatcher.h"

Application::Application(Services services, QObject* parent)
    : QObject(parent), services_(std::move(services)) {
  settingsNotifier_ = std::make_unique<SettingsNotifier>(services_.settings);
  model_ = std::make_unique<VolumeModel>(services_.engine);
  eject_ = std::make_unique<EjectController>(services_.engine, *model_, services_.alerts,
                                             services_.settings);
  tray_ = std::make_unique<TrayIcon>(*model_, services_.settings);
  messages_ = std::make_unique<MessagesController>(services_.supportClient, services_.launcherBadge,
                                                   services_.alerts, services_.display);
  connect(tray_.get(), &TrayIcon::ejectAllRequested, eject_.get(), &EjectController::ejectAll);
  connect(tray_.get(), &TrayIcon::ejectVolumeRequested, eject_.get(),
          &EjectController::ejectVolume);
  connect(eject_.get(), &EjectController::busyChanged, tray_.get(), &TrayIcon::setBusy);
  connect(eject_.get(), &EjectController::ejectingChanged, tray_.get(), &TrayIcon::setEjecting);
  connect(eject_.get(), &EjectController::volumeEjected, this, &Application::notifySafeToRemove);
  connect(tray_.get(), &TrayIcon::messagesRequested, messages_.get(),
          &MessagesController::showMessages);
  connect(tray_.get(), &TrayIcon::reportProblemRequested, messages_.get(),
          &MessagesController::reportProblem);
  connect(tray_.get(), &TrayIcon::checkForUpdatesRequested, &services_.updater,
          &Updater::checkForUpdates);
  connect(tray_.get(), &TrayIcon::quitRequested, this, &Application::quit);
  connect(messages_.get(), &MessagesController::messagePendingChanged, tray_.get(),
          &TrayIcon::setMessagePending);
  connect(settingsNotifier_.get(), &SettingsNotifier::changed, this, &Application::settingChanged);
}

Application::~Application() {
  // The window's pages talk to the controllers; they go first.
  displayMode_.reset();
  window_.reset();
}

void Application::launch() {
  if (!services_.codeSignature.verify()) {
    if (services_.exitProcess) {
      services_.exitProcess(EXIT_FAILURE);
    } else {
      std::exit(EXIT_FAILURE);
    }
    return;
  }
  displayMode_ = std::make_unique<DisplayModeController>(
      services_.settings, [this](bool build) { return build ? &window() : window_.get(); }, *tray_,
      services_.display, services_.alerts);
  connect(tray_.get(), &TrayIcon::openRequested, displayMode_.get(),
          &DisplayModeController::showWindow);
  connect(displayMode_.get(), &DisplayModeController::broughtForward, messages_.get(),
          &MessagesController::refreshBadges);
  connect(model_.get(), &VolumeModel::changed, this, &Application::showVolumes);
  model_->followEngine();
  // The tray alone shows no sizes: a volume's look inside wakes nothing until a view asks.
  model_->setDetailsShown(window_ != nullptr || tray_->menuExported());
  // Whatever alert comes next, the window behind it already shows what is mounted.
  showVolumes();
  displayMode_->start();
  displayMode_->showOnboardingIfNeeded();
  showVolumes();
  // Only now that the first-launch question is answered may anything reach a server.
  if (services_.installCrashReporter) {
    services_.installCrashReporter();
  }
  if (build_config::networkFeatures) {
    messages_->startSync(services_.firstServerCheckAfter);
    services_.updater.setUpdateCheckInterval(updateCheckIntervalSeconds);
    services_.updater.startUpdater();
  }

  const auto debugSettings = services_.environment ? services_.environment(debugSettingsVariable)
                                                   : std::optional<std::string>();
  if (debugSettings && *debugSettings == "1") {
    window().showSettings();
  }
}

MainWindow& Application::window() {
  if (!window_) {
    buildWindow();
  }
  return *window_;
}

void Application::buildWindow() {
  auto* home = new HomePage(services_.settings);
  auto* settings = new SettingsPage(SettingsPage::Services{
      .settings = services_.settings,
      .updater = services_.updater,
      .loginItem = services_.loginItem,
      .systemLog = services_.systemLog,
      .openUrl = services_.openUrl,
  });
  settings->reloadLoginItem();
  // A window built late starts from where the rest already is.
  if (eject_->isBusy()) {
    home->setBusy(true);
  }
  if (eject_->isEjecting()) {
    home->setEjecting(true);
  }
  window_ = std::make_unique<MainWindow>(home, settings);
  messages_->setMainWindow(window_.get());

  connect(home, &HomePage::ejectAllRequested, eject_.get(), &EjectController::ejectAll);
  connect(home, &HomePage::ejectVolumeRequested, eject_.get(), &EjectController::ejectVolume);
  connect(home, &HomePage::messagesRequested, messages_.get(), &MessagesController::showMessages);
  connect(eject_.get(), &EjectController::busyChanged, home, &HomePage::setBusy);
  connect(eject_.get(), &EjectController::ejectingChanged, home, &HomePage::setEjecting);
  connect(eject_.get(), &EjectController::allEjected, home, &HomePage::flashDone);
  connect(messages_.get(), &MessagesController::stateChanged, home, &HomePage::setMessagesState);
  connect(messages_.get(), &MessagesController::stateChanged, window_.get(),
          [window = window_.get()](bool open, bool) { window->setTicketOpen(open); });

  connect(settings, &SettingsPage::menuBarModeToggled, displayMode_.get(),
          &DisplayModeController::setMenuBarMode);
  connect(settingsNotifier_.get(), &SettingsNotifier::changed, settings,
          &SettingsPage::settingChanged);
  connect(settings, &SettingsPage::reportProblemRequested, messages_.get(),
          &MessagesController::reportProblem);

  connect(window_.get(), &MainWindow::closedByUser, displayMode_.get(),
          &DisplayModeController::windowClosedByUser);
  connect(window_.get(), &MainWindow::checkForUpdatesRequested, &services_.updater,
          &Updater::checkForUpdates);
  connect(window_.get(), &MainWindow::messagesRequested, messages_.get(),
          &MessagesController::showMessages);
  connect(window_.get(), &MainWindow::reportProblemRequested, messages_.get(),
          &MessagesController::reportProblem);
  connect(window_.get(), &MainWindow::quitRequested, this, &Application::quit);
  displayMode_->windowBuilt();
  model_->setDetailsShown(true);
  showVolumes();
}

void Application::notifySafeToRemove(const EjectableVolume& volume, bool partial) {
  // A partial result has its own alert already.
  if (partial || !services_.settings.notifyWhenSafe()) {
    return;
  }
  DesktopNotifier& notifier = services_.notifier;
  services_.dispatcher.runInBackground(
      [&notifier, summary = L("eject.safe_to_remove", volume.name)]() {
        notifier.notify(summary, "");
      });
}

void Application::settingChanged(const QString& key) {
  if (key == QLatin1String(setting_keys::statusColor.name)) {
    tray_->refresh();
  } else if (key == QLatin1String(setting_keys::protectTimeMachine.name)) {
    showVolumes(); // the backup badges
  }
}

void Application::showVolumes() {
  if (window_) {
    window_->home().setVolumes(model_->volumes(), model_->summary());
  }
}

void Application::reopen() {
  if (displayMode_) {
    displayMode_->reopen();
  }
}

void Application::quit() {
  if (displayMode_) {
    displayMode_->prepareForQuit();
  }
  // exit() rather than quit(): quit() first closes every window, and a closed window is how
  // the user asks for tray mode.
  if (services_.endEventLoop) {
    services_.endEventLoop();
  } else {
    QCoreApplication::exit(0);
  }
}
