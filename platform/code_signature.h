#pragma once

// Checks that the program on disk is the one its maker signed. The application refuses to
// start when the check fails.
class CodeSignature {
 public:
  virtual ~CodeSignature() = default;

  // True when the program's own signature is valid (or the platform signs nothing).
  virtual bool verify() = 0;
};
