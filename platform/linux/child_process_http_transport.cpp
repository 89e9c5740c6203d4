#include "platform/linux/child_process_http_transport.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "platform/linux/http_wire.h"

extern char** environ;

namespace {

HttpResponse failed(const std::string& text) {
  HttpResponse response;
  response.errorText = text;
  return response;
}

struct Descriptor {
  int fd = -1;
  ~Descriptor() {
    if (fd >= 0) {
      ::close(fd);
    }
  }
};

} // namespace

ChildProcessHttpTransport::ChildProcessHttpTransport(std::filesystem::path fetchProgram)
    : program_(std::move(fetchProgram)) {}

HttpResponse ChildProcessHttpTransport::send(const HttpRequest& request) {
  if (aborted_) {
    return failed("the program is quitting");
  }
  int pair[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
    return failed("no socket for the fetch program");
  }
  Descriptor ours{pair[0]}, theirs{pair[1]}, file;
  if (request.bodyFile >= 0) {
    // Above the descriptor it is moved to, so that the move always clears close-on-exec.
    file.fd = ::fcntl(request.bodyFile, F_DUPFD_CLOEXEC, http_wire::bodyFileDescriptor + 1);
    if (file.fd < 0) {
      return failed("the package file cannot be handed over");
    }
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, theirs.fd, STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, theirs.fd, STDOUT_FILENO);
  if (file.fd >= 0) {
    posix_spawn_file_actions_adddup2(&actions, file.fd, http_wire::bodyFileDescriptor);
  }
  const std::string path = program_.string();
  char* arguments[] = {const_cast<char*>(path.c_str()), nullptr};
  pid_t child = -1;
  int spawned = 0;
  {
    std::lock_guard lock(mutex_);
    spawned = aborted_ ? ECANCELED
                       : posix_spawn(&child, path.c_str(), &actions, nullptr, arguments, environ);
    if (spawned == 0) {
      running_.insert(child);
    }
  }
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    return failed("the fetch program could not start: " + path);
  }
  ::close(theirs.fd);
  theirs.fd = -1;

  const std::string wire = http_wire::encodeRequest(request);
  for (std::size_t sent = 0; sent < wire.size();) {
    const ssize_t count = ::send(ours.fd, wire.data() + sent, wire.size() - sent, MSG_NOSIGNAL);
    if (count < 0 && errno != EINTR) {
      break; // the child is gone; its answer (none) says so
    }
    sent += count > 0 ? static_cast<std::size_t>(count) : 0;
  }
  ::shutdown(ours.fd, SHUT_WR);
  std::string answer;
  char buffer[65536];
  for (;;) {
    const ssize_t count = ::recv(ours.fd, buffer, sizeof buffer, 0);
    if (count == 0 || (count < 0 && errno != EINTR)) {
      break;
    }
    if (count > 0) {
      answer.append(buffer, static_cast<std::size_t>(count));
    }
  }
  {
    std::lock_guard lock(mutex_);
    running_.erase(child);
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    return failed("the fetch program ended early");
  }
  return http_wire::decodeResponse(answer);
}

void ChildProcessHttpTransport::abortAll() {
  std::lock_guard lock(mutex_);
  aborted_ = true;
  for (const pid_t child : running_) {
    ::kill(child, SIGKILL);
  }
}
