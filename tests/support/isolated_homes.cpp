// Linked into every test: each process gets its own config and data homes, never the user's.
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace {

struct IsolatedHomes {
  IsolatedHomes() {
    std::string pattern = (std::filesystem::temp_directory_path() / "varnelo-home-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) {
      root = pattern;
      setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
      setenv("XDG_DATA_HOME", (root / "data").c_str(), 1);
    }
  }
  ~IsolatedHomes() {
    std::error_code ignored;
    if (!root.empty() && getpid() == owner) { // a forked child must not take its parent's homes
      std::filesystem::remove_all(root, ignored);
    }
  }
  std::filesystem::path root;
  pid_t owner = getpid();
};

const IsolatedHomes isolatedHomes;

} // namespace
