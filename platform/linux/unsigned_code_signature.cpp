#include "platform/linux/unsigned_code_signature.h"

bool UnsignedCodeSignature::verify() {
  return true;
}
