// Linked into every test executable: each test process gets configuration and data homes of
// its own, so cases that ctest runs in parallel never share a settings file, and nothing
// touches the real user's files.

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace {

class IsolatedHomes {
 public:
  IsolatedHomes() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "varnelo-test-home-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      return;
    }
    root_ = pattern;
    owner_ = getpid();
    setenv("XDG_CONFIG_HOME", (root_ / "config").c_str(), 1);
    setenv("XDG_DATA_HOME", (root_ / "data").c_str(), 1);
  }
  ~IsolatedHomes() {
    // A forked child that exits must not take its parent's homes with it.
    if (!root_.empty() && getpid() == owner_) {
      std::error_code ignored;
      std::filesystem::remove_all(root_, ignored);
    }
  }
  IsolatedHomes(const IsolatedHomes&) = delete;
  IsolatedHomes& operator=(const IsolatedHomes&) = delete;

 private:
  std::filesystem::path root_;
  pid_t owner_ = 0;
};

const IsolatedHomes isolatedHomes;

} // namespace
