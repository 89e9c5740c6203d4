#pragma once

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

// Root ignores folder permissions, so a refusal can only be seen by an ordinary user: when the
// suite runs as root, the folder goes to nobody and the check runs in a child that became
// nobody. True when the check returned true.
inline bool passesAsUnprivilegedUser(const std::filesystem::path& folder,
                                     const std::function<bool()>& check) {
  constexpr uid_t nobody = 65534;
  if (::geteuid() == 0) {
    ::lchown(folder.c_str(), nobody, nobody);
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
      ::lchown(entry.path().c_str(), nobody, nobody);
    }
  }
  const pid_t child = ::fork();
  if (child == 0) {
    const bool ordinary = ::geteuid() != 0 || (::setgroups(0, nullptr) == 0 &&
                                               ::setgid(nobody) == 0 && ::setuid(nobody) == 0);
    ::_exit(ordinary && check() ? 0 : 1);
  }
  int status = 0;
  return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) &&
         WEXITSTATUS(status) == 0;
}
