#pragma once

#include <string>
#include <utility>

#include "platform/login_item.h"

// A login item kept in memory. It can be told to refuse changes, and its status can be
// changed behind the program's back as the desktop's own settings would.
class FakeLoginItem : public LoginItem {
 public:
  LoginItemStatus status() override { return status_; }
  LoginItemOutcome registerItem() override { return change(LoginItemStatus::enabled); }
  LoginItemOutcome unregisterItem() override { return change(LoginItemStatus::notRegistered); }

  // A non-empty text makes every change fail with it.
  void refuseWith(std::string errorText) { refusal_ = std::move(errorText); }

 private:
  LoginItemOutcome change(LoginItemStatus status) {
    if (!refusal_.empty()) {
      return {false, refusal_};
    }
    status_ = status;
    return {true, {}};
  }

  LoginItemStatus status_ = LoginItemStatus::notRegistered;
  std::string refusal_;
};
