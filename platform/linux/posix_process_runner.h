#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/process_runner.h"

// Starts the executable directly with posix_spawn (no shell, no PATH search): standard input
// and standard error on /dev/null, standard output through a pipe read to its end.
class PosixProcessRunner : public ProcessRunner {
 public:
  std::optional<std::string> run(const std::string& executable,
                                 const std::vector<std::string>& arguments) override;
};
