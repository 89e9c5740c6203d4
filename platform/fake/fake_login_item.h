#pragma once

#include <string>
#include <utility>

#include "platform/login_item.h"

// A login item kept in memory. It can be told to refuse changes, and its status can be
// changed behind the program's back as the desktop's own settings would.
class FakeLoginItem : public LoginItem {
 public:
  LoginItemStatus status() override;
  LoginItemOutcome registerItem() override;
  LoginItemOutcome unregisterItem() override;

  void setStatus(LoginItemStatus status) { status_ = status; }
  // A non-empty text makes every change fail with it.
  void refuseWith(std::string errorText) { refusal_ = std::move(errorText); }

  int registerCount() const { return registerCount_; }
  int unregisterCount() const { return unregisterCount_; }
  int statusCount() const { return statusCount_; }

 private:
  LoginItemStatus status_ = LoginItemStatus::notRegistered;
  std::string refusal_;
  int registerCount_ = 0;
  int unregisterCount_ = 0;
  int statusCount_ = 0;
};
