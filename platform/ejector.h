#pragma once

#include <string>

struct EjectOutcome {
  bool success = false;
  // For the developer's log only; never shown to the user.
  std::string errorText;
};

// Unmounts the volume and ejects (powers off, detaches) its device.
class Ejector {
 public:
  virtual ~Ejector() = default;

  // Synchronous; never called on the main thread. A failure leaves the volume untouched.
  virtual EjectOutcome unmountAndEject(const std::string& mountPath) = 0;
};
