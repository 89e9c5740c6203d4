#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "app/alert_presenter.h"

// Answers alerts from a script (then the first button) and records every alert shown.
class ScriptedAlertPresenter : public AlertPresenter {
 public:
  void answer(int buttonIndex) { answers_.push_back(buttonIndex); }
  // Runs while each alert is "on screen", before it is answered.
  void setOnPresent(std::function<void(const Alert&)> onPresent) {
    onPresent_ = std::move(onPresent);
  }

  int present(const Alert& alert) override {
    shown.push_back(alert);
    if (onPresent_) {
      onPresent_(alert);
    }
    if (answers_.empty()) {
      return 0;
    }
    const int answer = answers_.front();
    answers_.pop_front();
    return answer;
  }

  std::vector<std::string> titles() const {
    std::vector<std::string> result;
    for (const Alert& alert : shown) {
      result.push_back(alert.title);
    }
    return result;
  }

  std::vector<Alert> shown;

 private:
  std::deque<int> answers_;
  std::function<void(const Alert&)> onPresent_;
};
