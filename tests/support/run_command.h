#pragma once

// Runs a program (no shell) for the tests, with a time limit: a tool that waits on a daemon
// which is not there (udevadm on a stale socket, for one) must fail the step, not hang the suite.
// Header only.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace test_support {

struct CommandResult {
  int status = -1; // exit status; -1 when it could not start, was killed or ran out of time
  std::string output;
  bool timedOut = false;
};

// Standard output is captured, standard error and input are /dev/null. Stops reading once the
// program has exited, even when a daemon it started still holds the pipe.
inline CommandResult runCommand(const std::vector<std::string>& argv,
                                std::chrono::milliseconds limit = std::chrono::seconds(60)) {
  CommandResult result;
  int ends[2];
  if (argv.empty() || pipe2(ends, O_CLOEXEC) != 0) {
    return result;
  }
  std::vector<char*> arguments;
  for (const auto& argument : argv) {
    arguments.push_back(const_cast<char*>(argument.c_str()));
  }
  arguments.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(ends[1], STDOUT_FILENO);
    const int null = open("/dev/null", O_RDWR);
    dup2(null, STDIN_FILENO);
    dup2(null, STDERR_FILENO);
    execv(arguments[0], arguments.data());
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
  for (;;) {
    if (!outputEnded) {
      pollfd readable{ends[0], POLLIN, 0};
      if (poll(&readable, 1, exited ? 0 : 50) > 0) {
        const ssize_t count = read(ends[0], buffer, sizeof buffer);
        if (count > 0) {
          result.output.append(buffer, static_cast<std::size_t>(count));
          continue;
        }
        outputEnded = count == 0 || errno != EINTR;
        continue;
      }
    } else if (!exited) {
      poll(nullptr, 0, 20);
    }
    if (exited) {
      break; // exited, and nothing more is waiting in the pipe
    }
    exited = waitpid(pid, &status, WNOHANG) == pid;
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
