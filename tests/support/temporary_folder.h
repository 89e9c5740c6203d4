#pragma once

#include <grp.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <system_error>

class TemporaryFolder {
 public:
  TemporaryFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "varnelo-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) {
      path_ = pattern;
    }
  }
  ~TemporaryFolder() {
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

  // Root ignores permissions: under root the folder goes to nobody and a child checks as nobody.
  bool passesAsUnprivilegedUser(const std::function<bool()>& check) const {
    constexpr uid_t nobody = 65534;
    if (::geteuid() == 0) {
      ::lchown(path_.c_str(), nobody, nobody);
      for (const auto& entry : std::filesystem::recursive_directory_iterator(path_)) {
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

 private:
  std::filesystem::path path_;
};
