#pragma once

class QWidget;

// What the desktop around the application offers and how the application comes forward.
// The real one asks Qt; tests script it.
class DisplayEnvironment {
 public:
  virtual ~DisplayEnvironment() = default;

  // Whether the desktop shows tray icons at all. Without one, a tray-only application would
  // leave the user no way in.
  virtual bool systemTrayAvailable() const = 0;

  // Brings the application forward and gives it the keyboard focus, whatever else was
  // active: the modal dialog when one is open, else the window when it is on screen.
  virtual void activateApplication(QWidget* window) = 0;

  // Asks the taskbar and pager to leave the window out (or list it again). Called while the
  // window is hidden, just before it may be shown.
  virtual void keepOutOfTaskbar(QWidget* window, bool keepOut) = 0;
};
