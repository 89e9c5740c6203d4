#pragma once

#include <QWidget>

#include "app/display_environment.h"

// A desktop with or without a tray, counting how often the application came forward.
class FakeDisplayEnvironment : public DisplayEnvironment {
 public:
  bool systemTrayAvailable() const override { return trayAvailable; }
  void activateApplication(QWidget* window) override {
    ++activations;
    lastActivated = window;
  }

  void keepOutOfTaskbar(QWidget*, bool keepOut) override { keptOutOfTaskbar = keepOut; }

  bool trayAvailable = true;
  bool keptOutOfTaskbar = false;
  int activations = 0;
  QWidget* lastActivated = nullptr;
};
