#pragma once

// The one way the tests run a program (no shell) to its end: with extra environment entries,
// as another user when asked, and with a time limit, so that a tool that waits on a daemon
// which is not there (udevadm on a stale socket, for one) fails the step instead of hanging
// the suite. Header only.

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace test_support {

struct CommandResult {
  int status = -1; // exit status; -1 when it could not start, was killed or ran out of time
  std::string output;
  bool timedOut = false;
};

// Standard output is captured (through a file, so a daemon the program starts cannot hold us
// up); input and errors are /dev/null. environment: "NAME=value" entries added to ours.
// asUser: the user (and group of the same number) the program runs as.
inline CommandResult runProgram(const std::vector<std::string>& argv,
                                const std::vector<std::string>& environment = {},
                                std::optional<uid_t> asUser = std::nullopt,
                                std::chrono::milliseconds limit = std::chrono::seconds(60)) {
  CommandResult result;
  char outputPath[] = "/tmp/varnelo-output-XXXXXX";
  const int output = mkostemp(outputPath, O_CLOEXEC);
  if (argv.empty() || output < 0) {
    return result;
  }
  unlink(outputPath);
  std::vector<std::string> arguments(argv);
  std::vector<std::string> entries;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    entries.emplace_back(*entry);
  }
  entries.insert(entries.end(), environment.begin(), environment.end());
  std::vector<char*> argumentPointers;
  std::vector<char*> environmentPointers;
  for (auto [texts, pointers] :
       {std::pair{&arguments, &argumentPointers}, std::pair{&entries, &environmentPointers}}) {
    for (auto& text : *texts) {
      pointers->push_back(text.data());
    }
    pointers->push_back(nullptr);
  }
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_RDWR);
    dup2(null, STDIN_FILENO);
    dup2(output, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
    if (asUser && (setgroups(0, nullptr) != 0 || setgid(*asUser) != 0 || setuid(*asUser) != 0)) {
      _exit(126);
    }
    execve(argumentPointers[0], argumentPointers.data(), environmentPointers.data());
    _exit(127);
  }
  const auto deadline = std::chrono::steady_clock::now() + limit;
  int status = 0;
  while (pid > 0 && waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
      result.timedOut = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
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
