#pragma once

#include "app/display_environment.h"

class QtDisplayEnvironment : public DisplayEnvironment {
 public:
  bool systemTrayAvailable() const override;
  void activateApplication(QWidget* window) override;
  void keepOutOfTaskbar(QWidget* window, bool keepOut) override;
};
