#include "platform/fake/fake_login_item.h"

LoginItemStatus FakeLoginItem::status() {
  ++statusCount_;
  return status_;
}

LoginItemOutcome FakeLoginItem::registerItem() {
  ++registerCount_;
  if (!refusal_.empty()) {
    return {false, refusal_};
  }
  status_ = LoginItemStatus::enabled;
  return {true, {}};
}

LoginItemOutcome FakeLoginItem::unregisterItem() {
  ++unregisterCount_;
  if (!refusal_.empty()) {
    return {false, refusal_};
  }
  status_ = LoginItemStatus::notRegistered;
  return {true, {}};
}
