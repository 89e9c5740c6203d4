#pragma once

#include "platform/code_signature.h"

// A signature check that answers as told and counts how often it was asked.
class FakeCodeSignature : public CodeSignature {
 public:
  explicit FakeCodeSignature(bool valid = true) : valid_(valid) {}

  bool verify() override;

  void setValid(bool valid) { valid_ = valid; }
  int verifyCount() const { return verifyCount_; }

 private:
  bool valid_;
  int verifyCount_ = 0;
};
