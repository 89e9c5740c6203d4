#pragma once

#include <QWidget>

#include "app/display_environment.h"

// A desktop with or without a tray, counting how often the application came forward.
class FakeDisplayEnvironment : public DisplayEnvironment {
 public:
  bool systemTrayAvailable() const override { return trayAvailable; }
  void activateApplication(QWidget*) override { ++activations; }
  void keepOutOfTaskbar(QWidget*, bool) override {}

  bool trayAvailable = true;
  int activations = 0;
};
