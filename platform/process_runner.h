#pragma once

#include <optional>
#include <string>
#include <vector>

// Runs a child process to its end.
class ProcessRunner {
 public:
  virtual ~ProcessRunner() = default;

  // Everything the process wrote on standard output (standard error is discarded),
  // read to the end before the process is waited for. Nothing when it cannot be started.
  // The exit status is not examined.
  virtual std::optional<std::string> run(const std::string& executable,
                                         const std::vector<std::string>& arguments) = 0;
};
