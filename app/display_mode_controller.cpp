#include "app/display_mode_controller.h"

#include <QApplication>
#include <QTimer>

#include "app/main_window.h"
#include "app/tray_icon.h"
#include "core/localization.h"
#include "core/settings.h"

namespace {

constexpr Qt::WindowFlags baseWindowFlags = Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                                            Qt::WindowMinimizeButtonHint |
                                            Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint;

} // namespace

DisplayModeController::DisplayModeController(Settings& settings, WindowSource window,
                                             TrayIcon& tray, DisplayEnvironment& display,
                                             AlertPresenter& alerts, QObject* parent)
    : QObject(parent), settings_(settings), windowSource_(std::move(window)), tray_(tray),
      display_(display), alerts_(alerts) {
  // A panel that went for good leaves the window as the only way in.
  connect(&tray_, &TrayIcon::panelLost, this, [this]() {
    if (menuBarMode() && !quitting_) {
      showWindow();
    }
  });
}

bool DisplayModeController::menuBarModeInEffect() const {
  return menuBarMode() && display_.systemTrayAvailable();
}

void DisplayModeController::prepareProcess(const Settings& settings) {
  // Without a tray the window keeps the process alive; the check comes again once the display
  // environment is known.
  QApplication::setQuitOnLastWindowClosed(!settings.menuBarMode());
}

MainWindow& DisplayModeController::window() {
  return *windowSource_(true);
}

void DisplayModeController::start() {
  applyWindowKind();
  if (!menuBarModeInEffect()) {
    window().bringToFront();
  }
  if (menuBarMode()) {
    tray_.setVisible(true);
    if (!menuBarModeInEffect()) {
      activate();
      explainMissingTray();
    }
  } else {
    activate();
  }
}

void DisplayModeController::showOnboardingIfNeeded() {
  if (settings_.onboarded()) {
    return;
  }
  // Written before asking, so the question never comes twice even if the process ends now.
  settings_.setOnboarded(true);
  activate();
  // Only the second button chooses the tray; Escape or closing the box keeps the window.
  const int answer = alerts_.present(onboardingQuestion());
  settings_.setMenuBarMode(answer == 1);
  apply(true);
}

Alert DisplayModeController::onboardingQuestion() {
  return {.style = Alert::Style::informational,
          .title = L("onboarding.welcome_title"),
          .message = L("onboarding.welcome_message"),
          .buttons = {L("onboarding.dock_button"), L("onboarding.menubar_button")},
          .icon = std::nullopt,
          .escapeButton = 0};
}

void DisplayModeController::setMenuBarMode(bool on) {
  settings_.setMenuBarMode(on);
  apply(true);
}

void DisplayModeController::apply(bool bringWindowForward) {
  const bool menuBar = menuBarMode();
  tray_.setVisible(menuBar);
  QApplication::setQuitOnLastWindowClosed(!menuBarModeInEffect());
  // The window kind changes once the current event is done: it may be the window's own close.
  QTimer::singleShot(0, this, [this, menuBar, bringWindowForward]() {
    applyWindowKind();
    const bool noTray = !display_.systemTrayAvailable();
    // Without a tray the window is the only way in, so it comes forward regardless.
    if (bringWindowForward || (menuBar && noTray)) {
      window().bringToFront();
    }
    activate();
    if (menuBar && noTray) {
      explainMissingTray();
    }
    if (!menuBar) {
      emit broughtForward();
    }
  });
}

void DisplayModeController::applyWindowKind() {
  const bool toolWindow = menuBarModeInEffect();
  QApplication::setQuitOnLastWindowClosed(!toolWindow);
  // A Qt::Tool window is a utility window that taskbars leave out; it can still be shown,
  // raised and focused. Changing the flags re-creates the native window, hiding it.
  const Qt::WindowFlags wanted = baseWindowFlags | (toolWindow ? Qt::Tool : Qt::Window);
  // A window not built yet takes its kind when it is.
  MainWindow* window = windowSource_(false);
  if (window != nullptr && window->windowFlags() != wanted) {
    const bool wasVisible = window->isVisible();
    window->setWindowFlags(wanted);
    display_.keepOutOfTaskbar(window, toolWindow);
    if (wasVisible) {
      window->show();
    }
  }
}

void DisplayModeController::windowClosedByUser() {
  if (quitting_) {
    return;
  }
  if (!menuBarMode() && display_.systemTrayAvailable()) {
    settings_.setMenuBarMode(true);
    // The window stays closed; the tray icon is the way back.
    apply(false);
  } else if (menuBarMode()) {
    // A tray may have appeared since the window was put in the taskbar for want of one.
    QTimer::singleShot(0, this, [this]() { applyWindowKind(); });
  }
  QApplication::setQuitOnLastWindowClosed(!menuBarModeInEffect());
}

void DisplayModeController::reopen() {
  // In tray mode the tray icon is the way in, while a panel shows it.
  if (menuBarModeInEffect() && !tray_.isPanelLost()) {
    return;
  }
  // A minimised or covered window counts as hidden: it comes back in front.
  showWindow();
}

void DisplayModeController::showWindow() {
  window().bringToFront();
  activate();
  emit broughtForward();
}

void DisplayModeController::activate() {
  display_.activateApplication(windowSource_(false));
}

void DisplayModeController::explainMissingTray() {
  if (missingTrayExplained_) {
    return;
  }
  missingTrayExplained_ = true;
  alerts_.present({.style = Alert::Style::informational,
                   .title = L("tray.unavailable_title"),
                   .message = L("tray.unavailable_message"),
                   .buttons = {L("common.ok")},
                   .icon = std::nullopt});
}
