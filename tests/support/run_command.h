#pragma once

// The one way the tests run a program (no shell) to its end: with extra environment entries,
// as another user when asked, and with a time limit, so that a tool that waits on a daemon
// which is not there (udevadm on a stale socket, for one) fails the step instead of hanging
// the suite. Header only.

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

namespace test_support {

struct CommandResult {
  int status = -1; // exit status; -1 when it could not start, was killed or ran out of time
  std::string output;
  bool timedOut = false;
};

// Standard output (and, with mergeErrors, standard error) is captured; input is /dev/null.
// environment: "NAME=value" entries added to ours. asUser: the user (and its group) the program
// runs as. Stops reading once the program has exited, even when a daemon it started still
// holds the pipe.
inline CommandResult runProgram(const std::vector<std::string>& argv,
                                const std::vector<std::string>& environment = {},
                                std::optional<uid_t> asUser = std::nullopt,
                                std::chrono::milliseconds limit = std::chrono::seconds(60),
                                bool mergeErrors = false) {
  CommandResult result;
  int ends[2];
  if (argv.empty() || pipe2(ends, O_CLOEXEC) != 0) {
    return result;
  }
  std::vector<std::string> entries;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    entries.emplace_back(*entry);
  }
  entries.insert(entries.end(), environment.begin(), environment.end());
  std::vector<std::string> arguments(argv);
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
    dup2(ends[1], STDOUT_FILENO);
    const int null = open("/dev/null", O_RDWR);
    dup2(null, STDIN_FILENO);
    dup2(mergeErrors ? ends[1] : null, STDERR_FILENO);
    if (asUser && (setgroups(0, nullptr) != 0 || setgid(*asUser) != 0 || setuid(*asUser) != 0)) {
      _exit(126);
    }
    execve(argumentPointers[0], argumentPointers.data(), environmentPointers.data());
    _exit(127);
  }
  close(ends[1]);
  if (pid < 0) {
    close(ends[0]);
    return result;
  }
  const auto deadline = std::chrono::steady_clock::now() + limit;
  int status = 0;
  bool exited = false;
  bool outputEnded = false;
  char buffer[4096];
  // Reads until the program has exited and the pipe is drained, not until a daemon it
  // started lets go of the pipe.
  while (!exited || !outputEnded) {
    pollfd readable{ends[0], POLLIN, 0};
    if (!outputEnded && poll(&readable, 1, exited ? 0 : 50) > 0) {
      const ssize_t count = read(ends[0], buffer, sizeof buffer);
      if (count > 0) {
        result.output.append(buffer, static_cast<std::size_t>(count));
      }
      outputEnded = count == 0 || (count < 0 && errno != EINTR);
      continue;
    }
    outputEnded = outputEnded || exited;
    if (outputEnded && !exited) {
      poll(nullptr, 0, 20);
    }
    exited = exited || waitpid(pid, &status, WNOHANG) == pid;
    if (!exited && std::chrono::steady_clock::now() >= deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
      result.timedOut = true;
      break;
    }
  }
  close(ends[0]);
  if (exited && !result.timedOut && WIFEXITED(status)) {
    result.status = WEXITSTATUS(status);
  }
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
