#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "app/alert_presenter.h"

// Answers alerts from a script (then the first button) and records every alert shown.
class ScriptedAlertPresenter : public AlertPresenter {
 public:
  int present(const Alert& alert) override {
    shown.push_back(alert);
    if (onPresent)
      onPresent(alert);
    const int answer = answers.empty() ? 0 : answers.front();
    if (!answers.empty())
      answers.pop_front();
    return answer;
  }

  std::vector<std::string> titles() const {
    std::vector<std::string> result;
    for (const Alert& alert : shown)
      result.push_back(alert.title);
    return result;
  }

  std::deque<int> answers;
  std::function<void(const Alert&)> onPresent; // runs while each alert is on screen
  std::vector<Alert> shown;
};
