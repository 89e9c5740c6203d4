#pragma once

#include <sys/wait.h>

#include <string>
#include <vector>

#include "tests/support/run_command.h"

inline int runCrashChild(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), VARNELO_CRASH_CHILD);
  int status = -1;
  const pid_t child = test_support::startProgram(arguments, {}, STDOUT_FILENO, STDERR_FILENO);
  if (child > 0) {
    waitpid(child, &status, 0);
  }
  return status;
}

inline bool endsBySignal(int status, int number) {
  return WIFSIGNALED(status) && WTERMSIG(status) == number;
}
