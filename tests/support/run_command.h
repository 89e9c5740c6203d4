#pragma once

// Runs programs without a shell, with a time limit so a tool waiting on a missing daemon fails.

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace test_support {

// Polls the condition until it holds (true) or the time is up (false).
inline bool waitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds limit = std::chrono::seconds(10),
                      std::chrono::milliseconds step = std::chrono::milliseconds(20)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= end) {
      return false;
    }
    std::this_thread::sleep_for(step);
  }
  return true;
}

struct CommandResult {
  int status = -1; // exit status; -1 when it could not start, was killed or ran out of time
  std::string output;
  bool timedOut = false;
};

// Descriptors below 0 mean /dev/null. Only async-signal-safe calls in the child.
inline pid_t startProgram(std::vector<std::string> argv, std::vector<std::string> environment,
                          int output, int errors, std::optional<uid_t> asUser = std::nullopt) {
  for (char** entry = environ; *entry != nullptr; ++entry) {
    environment.emplace_back(*entry);
  }
  std::vector<char*> arguments;
  std::vector<char*> entries;
  for (auto [texts, pointers] : {std::pair{&argv, &arguments}, std::pair{&environment, &entries}}) {
    for (auto& text : *texts) {
      pointers->push_back(text.data());
    }
    pointers->push_back(nullptr);
  }
  const pid_t pid = argv.empty() ? -1 : fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_RDWR);
    dup2(null, STDIN_FILENO);
    dup2(output < 0 ? null : output, STDOUT_FILENO);
    dup2(errors < 0 ? null : errors, STDERR_FILENO);
    if (asUser && (setgroups(0, nullptr) != 0 || setgid(*asUser) != 0 || setuid(*asUser) != 0)) {
      _exit(126);
    }
    execve(arguments[0], arguments.data(), entries.data());
    _exit(127);
  }
  return pid;
}

// Runs to the end; output goes through a file so a daemon the program starts cannot hold us.
inline CommandResult runProgram(const std::vector<std::string>& argv,
                                const std::vector<std::string>& environment = {},
                                std::optional<uid_t> asUser = std::nullopt,
                                std::chrono::milliseconds limit = std::chrono::seconds(60)) {
  CommandResult result;
  char outputPath[] = "/tmp/varnelo-output-XXXXXX";
  const int output = mkostemp(outputPath, O_CLOEXEC);
  if (output < 0) {
    return result;
  }
  unlink(outputPath);
  const pid_t pid = startProgram(argv, environment, output, -1, asUser);
  int status = 0;
  if (pid > 0 && !waitUntil([&] { return waitpid(pid, &status, WNOHANG) != 0; }, limit,
                            std::chrono::milliseconds(5))) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    result.timedOut = true;
  }
  if (pid > 0 && !result.timedOut && WIFEXITED(status)) {
    result.status = WEXITSTATUS(status);
  }
  char buffer[4096];
  lseek(output, 0, SEEK_SET);
  for (ssize_t count = 0; (count = read(output, buffer, sizeof buffer)) > 0;) {
    result.output.append(buffer, static_cast<std::size_t>(count));
  }
  close(output);
  return result;
}

inline CommandResult runCommand(const std::vector<std::string>& argv,
                                std::chrono::milliseconds limit = std::chrono::seconds(60)) {
  return runProgram(argv, {}, std::nullopt, limit);
}

// The full path of a system tool, looked up in the sbin and bin folders; the bare name otherwise.
inline std::string findTool(const std::string& name) {
  for (const char* folder : {"/usr/sbin", "/sbin", "/usr/bin", "/bin"}) {
    const auto path = std::filesystem::path(folder) / name;
    if (access(path.c_str(), X_OK) == 0) {
      return path.string();
    }
  }
  return name;
}

} // namespace test_support
