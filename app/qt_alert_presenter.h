#pragma once

#include <functional>

#include "app/alert_presenter.h"
#include "app/display_environment.h"

class QWidget;

// Alerts as Qt message boxes, application-modal, with the application brought forward first.
class QtAlertPresenter : public AlertPresenter {
 public:
  // The window provider names the main window, which the box is centred on while visible.
  QtAlertPresenter(DisplayEnvironment& environment, std::function<QWidget*()> mainWindow);

  int present(const Alert& alert) override;

 private:
  DisplayEnvironment& environment_;
  std::function<QWidget*()> mainWindow_;
};
