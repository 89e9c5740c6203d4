#pragma once

#include "platform/code_signature.h"

// A signature check that answers as told.
class FakeCodeSignature : public CodeSignature {
 public:
  explicit FakeCodeSignature(bool valid = true) : valid_(valid) {}
  bool verify() override { return valid_; }

 private:
  bool valid_;
};
