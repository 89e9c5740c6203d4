#pragma once

#include <spawn.h>
#include <sys/wait.h>

#include <string>
#include <vector>

extern char** environ;

// Runs the crash child with the arguments to its end; returns its wait status.
inline int runCrashChild(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), VARNELO_CRASH_CHILD);
  std::vector<char*> argv;
  for (auto& argument : arguments) {
    argv.push_back(argument.data());
  }
  argv.push_back(nullptr);
  pid_t child = 0;
  int status = -1;
  if (posix_spawn(&child, argv[0], nullptr, nullptr, argv.data(), environ) == 0) {
    waitpid(child, &status, 0);
  }
  return status;
}

inline bool endsBySignal(int status, int number) {
  return WIFSIGNALED(status) && WTERMSIG(status) == number;
}
