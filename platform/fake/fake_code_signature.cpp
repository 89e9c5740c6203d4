#include "platform/fake/fake_code_signature.h"

bool FakeCodeSignature::verify() {
  ++verifyCount_;
  return valid_;
}
