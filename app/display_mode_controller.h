#pragma once

#include <functional>

#include <QObject>

#include "app/alert_presenter.h"
#include "app/display_environment.h"
#include "core/settings.h"

class MainWindow;
class TrayIcon;

// The two display modes: a taskbar window, or the tray icon alone with the window as a utility
// window shown on demand. Asks the first-launch question, follows the settings switch and the
// window's close button, and brings the window back on a second launch.
class DisplayModeController : public QObject {
  Q_OBJECT

 public:
  // The window, built only when asked to build it: until it is first shown there may be none.
  using WindowSource = std::function<MainWindow*(bool build)>;

  DisplayModeController(Settings& settings, WindowSource window, TrayIcon& tray,
                        DisplayEnvironment& display, AlertPresenter& alerts,
                        QObject* parent = nullptr);

  bool menuBarMode() const { return settings_.menuBarMode(); }
  // Chosen, and the desktop has a tray to put the icon in.
  bool menuBarModeInEffect() const;
  // Before any window exists: whether closing the last window ends the program.
  static void prepareProcess(const Settings& settings);

  // The launch steps of the mode: the tray icon or the window comes forward.
  void start();
  void showOnboardingIfNeeded();
  static Alert onboardingQuestion();

 public slots:
  void setMenuBarMode(bool on);
  // The user closed the window: in window mode with a tray, the tray becomes the way back.
  void windowClosedByUser();
  // Another launch asked for us.
  void reopen();
  void showWindow();
  // A window built since: it takes the kind of window the mode asks for.
  void windowBuilt() { applyWindowKind(); }
  // From now on, window closes belong to the program ending, not to the user.
  void prepareForQuit() { quitting_ = true; }

 signals:
  // The window came forward in window mode: badges are worth a fresh look.
  void broughtForward();

 private:
  void apply(bool bringWindowForward);
  void applyWindowKind();
  void explainMissingTray();
  void activate();

  MainWindow& window();

  Settings& settings_;
  WindowSource windowSource_;
  TrayIcon& tray_;
  DisplayEnvironment& display_;
  AlertPresenter& alerts_;
  bool missingTrayExplained_ = false;
  bool quitting_ = false;
};
