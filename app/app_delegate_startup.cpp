#include <cstdlib>
#include <utility>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>

#include "app/app_delegate.h"
#include "core/localization.h"
#include "views/palette.h"
#include "views/round_eject_button.h"
#include "views/volume_list_view.h"
#include "core/settings_store.h"

namespace {

// The window flags every main window has; the mode adds Qt::Window or Qt::Tool.
constexpr Qt::WindowFlags baseWindowFlags = Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                                            Qt::WindowMinimizeButtonHint |
                                            Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint;

} // namespace

AppDelegate::AppDelegate(Collaborators collaborators, QObject* parent)
    : QObject(parent), engine(collaborators.engine), updaterController(collaborators.updater),
      alerts_(collaborators.alerts), display_(collaborators.display),
      codeSignature_(collaborators.codeSignature),
      installCrashReporter_(std::move(collaborators.installCrashReporter)),
      exitProcess_(std::move(collaborators.exitProcess)),
      environment_(std::move(collaborators.environment)) {
  updaterController.startUpdater();
}

AppDelegate::~AppDelegate() {
  engine.setOnChange(nullptr);
  statusController.onEjectAll = nullptr;
  delete mainWindow;
  delete mainMenu;
}

bool AppDelegate::menuBarMode() {
  return SettingsStore::shared().boolean(menuBarModeKey);
}

void AppDelegate::setMenuBarMode(bool value) {
  SettingsStore::shared().set(menuBarModeKey, value);
}

bool AppDelegate::menuBarModeInEffect() const {
  return menuBarMode() && display_.systemTrayAvailable();
}

void AppDelegate::applyActivationPolicyAtStart() {
  // Without a tray the window keeps the process alive; the check comes again once the
  // display environment is known.
  QApplication::setQuitOnLastWindowClosed(!menuBarMode());
}

void AppDelegate::applicationDidFinishLaunching() {
  if (!codeSignature_.verify()) {
    if (exitProcess_) {
      exitProcess_(EXIT_FAILURE);
    } else {
      std::exit(EXIT_FAILURE);
    }
    return;
  }
  if (installCrashReporter_) {
    installCrashReporter_();
  }
  buildMenu();
  buildMainWindow();

  QPointer<AppDelegate> self(this);
  engine.setOnChange([self]() {
    if (self) {
      self->refreshVolumesUI();
    }
  });

  if (menuBarMode()) {
    enableStatusItem();
    if (!menuBarModeInEffect()) {
      activateIgnoringOtherApps();
      explainMissingTray();
    }
  } else {
    activateIgnoringOtherApps();
  }
  showOnboardingIfNeeded();
  refreshVolumesUI();

  syncWithServer();
  serverSyncTimer.setInterval(serverSyncIntervalMs);
  connect(&serverSyncTimer, &QTimer::timeout, this, &AppDelegate::syncWithServer,
          Qt::UniqueConnection);
  serverSyncTimer.start();

  updaterController.setUpdateCheckInterval(updateCheckIntervalSeconds);

  const auto debugSettings = environmentValue(debugSettingsVariable);
  if (debugSettings && *debugSettings == "1") {
    showSettings();
  }
}

std::optional<std::string> AppDelegate::environmentValue(const std::string& name) const {
  if (environment_) {
    return environment_(name);
  }
  const char* value = std::getenv(name.c_str());
  return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
}

bool AppDelegate::applicationShouldTerminateAfterLastWindowClosed() const {
  return !menuBarModeInEffect();
}

bool AppDelegate::applicationShouldHandleReopen(bool hasVisibleWindows) {
  if (hasVisibleWindows || menuBarModeInEffect()) {
    return true;
  }
  bringMainWindowToFront();
  activateIgnoringOtherApps();
  refreshMessageBadges();
  return true;
}

bool AppDelegate::windowShouldClose(QWidget* window) {
  if (window != nullptr && window == mainWindow.data() && !menuBarMode() &&
      display_.systemTrayAvailable()) {
    setMenuBarMode(true);
    if (menuBarCheckbox) {
      menuBarCheckbox->setChecked(true);
    }
    // The user closed the window: it stays closed, the tray icon is the way back.
    applyDisplayMode(false);
  } else if (window != nullptr && window == mainWindow.data() && menuBarMode()) {
    // A tray may have appeared since the window was put in the taskbar for want of one.
    QTimer::singleShot(0, this, [this]() { applyActivationPolicy(); });
  }
  // Without a tray, closing ends a Dock-mode application as usual rather than strand it.
  QApplication::setQuitOnLastWindowClosed(applicationShouldTerminateAfterLastWindowClosed());
  return true;
}

void AppDelegate::showOnboardingIfNeeded() {
  SettingsStore& defaults = SettingsStore::shared();
  if (defaults.boolean(onboardedKey)) {
    return;
  }
  // Written before asking, so the question never comes twice even if the process ends now.
  defaults.set(onboardedKey, true);
  activateIgnoringOtherApps();
  const int answer = alerts_.present({Alert::Style::informational,
                                      L("onboarding.welcome_title"),
                                      L("onboarding.welcome_message"),
                                      {L("onboarding.dock_button"), L("onboarding.menubar_button")},
                                      std::nullopt});
  setMenuBarMode(answer == 1);
  if (menuBarCheckbox) {
    menuBarCheckbox->setChecked(menuBarMode());
  }
  applyDisplayMode();
}

void AppDelegate::applyDisplayMode() {
  applyDisplayMode(true);
}

void AppDelegate::applyDisplayMode(bool bringWindowForward) {
  const bool menuBar = menuBarMode();
  if (menuBar) {
    enableStatusItem();
  } else {
    statusController.disable();
  }
  QApplication::setQuitOnLastWindowClosed(applicationShouldTerminateAfterLastWindowClosed());

  // The window flags change once the current event is done: it may be the window's own close.
  QTimer::singleShot(0, this, [this, menuBar, bringWindowForward]() {
    applyActivationPolicy();
    if (menuBar) {
      // Without a tray the window is the only way in, so it comes forward regardless.
      const bool noTray = !display_.systemTrayAvailable();
      activateIgnoringOtherApps();
      if (bringWindowForward || noTray) {
        bringMainWindowToFront();
      }
      if (noTray) {
        explainMissingTray();
      }
    } else {
      activateIgnoringOtherApps();
      if (bringWindowForward) {
        bringMainWindowToFront();
      }
      activateIgnoringOtherApps();
      refreshMessageBadges();
    }
  });
}

void AppDelegate::applyActivationPolicy() {
  const bool toolWindow = menuBarModeInEffect();
  QApplication::setQuitOnLastWindowClosed(!toolWindow);
  if (!mainWindow) {
    return;
  }
  // A Qt::Tool window is a utility window that taskbars leave out; it can still be shown,
  // raised and focused. Changing the flags re-creates the native window, hiding it.
  const Qt::WindowFlags wanted = baseWindowFlags | (toolWindow ? Qt::Tool : Qt::Window);
  if (mainWindow->windowFlags() != wanted) {
    const bool wasVisible = mainWindow->isVisible();
    mainWindow->setWindowFlags(wanted);
    display_.keepOutOfTaskbar(mainWindow, toolWindow);
    if (wasVisible) {
      mainWindow->show();
    }
  }
}

void AppDelegate::refreshVolumesUI() {
  const std::vector<EjectableVolume>& volumes = engine.volumes();
  const std::string summary = EjectEngine::resume(volumes);
  if (ejectButton) {
    ejectButton->setAvailableState(!volumes.empty());
  }
  if (statusLabel) {
    statusLabel->setVisible(!volumes.empty());
    statusLabel->setText(QString::fromStdString(summary));
    QPalette palette = statusLabel->palette();
    palette.setColor(QPalette::WindowText, secondaryLabelColor());
    statusLabel->setPalette(palette);
  }
  if (volumeList) {
    volumeList->update(volumes);
  }
  statusController.volumeSummary = summary;
  statusController.setVolumeCount(static_cast<int>(volumes.size()));
}

void AppDelegate::toggleMenuBarMode(QAbstractButton* sender) {
  setMenuBarMode(sender != nullptr && sender->isChecked());
  applyDisplayMode();
}

void AppDelegate::enableStatusItem() {
  QPointer<AppDelegate> self(this);
  statusController.onEjectAll = [self]() {
    if (self) {
      self->performEjectAll();
    }
  };
  statusController.enable(
      [self]() -> QMenu* { return self ? self->buildStatusMenu() : new QMenu(); });
  statusController.volumeSummary = EjectEngine::resume(engine.volumes());
  statusController.setVolumeCount(static_cast<int>(engine.volumes().size()));
}

void AppDelegate::showMainWindow() {
  bringMainWindowToFront();
  activateIgnoringOtherApps();
  refreshMessageBadges();
}

void AppDelegate::bringMainWindowToFront() {
  if (!mainWindow) {
    return;
  }
  if (mainWindow->isMinimized()) {
    mainWindow->showNormal();
  } else {
    mainWindow->show();
  }
  mainWindow->raise();
  mainWindow->activateWindow();
}

void AppDelegate::activateIgnoringOtherApps() {
  display_.activateApplication(mainWindow);
}

void AppDelegate::explainMissingTray() {
  if (missingTrayExplained_) {
    return;
  }
  missingTrayExplained_ = true;
  alerts_.present({Alert::Style::informational,
                   L("tray.unavailable_title"),
                   L("tray.unavailable_message"),
                   {L("common.ok")},
                   std::nullopt});
}

bool AppDelegate::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Close && watched->isWidgetType()) {
    auto* window = static_cast<QWidget*>(watched);
    if (!windowShouldClose(window)) {
      event->ignore();
      return true;
    }
  }
  return QObject::eventFilter(watched, event);
}
