#include "platform/linux/posix_process_runner.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace {

// Closes a descriptor once, whatever path the function leaves by.
class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() { reset(); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  void reset() {
    if (fd_ >= 0) {
      close(fd_);
      fd_ = -1;
    }
  }

 private:
  int fd_;
};

class SpawnSetup {
 public:
  SpawnSetup() {
    actionsReady_ = posix_spawn_file_actions_init(&actions_) == 0;
    attributesReady_ = posix_spawnattr_init(&attributes_) == 0;
  }
  ~SpawnSetup() {
    if (actionsReady_) {
      posix_spawn_file_actions_destroy(&actions_);
    }
    if (attributesReady_) {
      posix_spawnattr_destroy(&attributes_);
    }
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;
  bool ready() const { return actionsReady_ && attributesReady_; }
  posix_spawn_file_actions_t* actions() { return &actions_; }
  posix_spawnattr_t* attributes() { return &attributes_; }

 private:
  posix_spawn_file_actions_t actions_{};
  posix_spawnattr_t attributes_{};
  bool actionsReady_ = false;
  bool attributesReady_ = false;
};

} // namespace

std::optional<std::string> PosixProcessRunner::run(const std::string& executable,
                                                   const std::vector<std::string>& arguments) {
  // Both ends close on exec: the child gets the write end only through the dup2 below, so no
  // other child started meanwhile keeps our pipe open.
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) {
    return std::nullopt;
  }
  Descriptor readEnd(ends[0]);
  Descriptor writeEnd(ends[1]);

  SpawnSetup setup;
  if (!setup.ready() ||
      posix_spawn_file_actions_addopen(setup.actions(), STDIN_FILENO, "/dev/null", O_RDONLY, 0) !=
          0 ||
      posix_spawn_file_actions_adddup2(setup.actions(), writeEnd.get(), STDOUT_FILENO) != 0 ||
      posix_spawn_file_actions_addopen(setup.actions(), STDERR_FILENO, "/dev/null", O_WRONLY, 0) !=
          0 ||
      // Descriptors other code left open without close-on-exec stay with us too.
      posix_spawn_file_actions_addclosefrom_np(setup.actions(), STDERR_FILENO + 1) != 0) {
    return std::nullopt;
  }
  // The child starts with default signal handling and nothing blocked, whatever this process
  // (or the thread we run on) set up.
  sigset_t noSignals;
  sigset_t allSignals;
  sigemptyset(&noSignals);
  sigfillset(&allSignals);
  sigdelset(&allSignals, SIGKILL);
  sigdelset(&allSignals, SIGSTOP);
  posix_spawnattr_setsigmask(setup.attributes(), &noSignals);
  posix_spawnattr_setsigdefault(setup.attributes(), &allSignals);
  posix_spawnattr_setflags(setup.attributes(), POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  std::vector<char*> argv;
  argv.reserve(arguments.size() + 2);
  argv.push_back(const_cast<char*>(executable.c_str()));
  for (const auto& argument : arguments) {
    argv.push_back(const_cast<char*>(argument.c_str()));
  }
  argv.push_back(nullptr);

  pid_t child = 0;
  if (posix_spawn(&child, executable.c_str(), setup.actions(), setup.attributes(), argv.data(),
                  environ) != 0) {
    return std::nullopt;
  }
  writeEnd.reset();

  std::string output;
  char buffer[65536];
  for (;;) {
    const ssize_t count = read(readEnd.get(), buffer, sizeof buffer);
    if (count > 0) {
      output.append(buffer, static_cast<std::size_t>(count));
    } else if (count == 0 || errno != EINTR) {
      break;
    }
  }
  readEnd.reset();

  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return output;
}
