#include "platform/linux/running_program.h"

#include <string>
#include <string_view>
#include <system_error>

std::filesystem::path runningProgramPath() {
  std::error_code error;
  std::string path = std::filesystem::read_symlink("/proc/self/exe", error).string();
  if (error) {
    return {};
  }
  constexpr std::string_view replaced = " (deleted)";
  if (path.size() > replaced.size() && path.ends_with(replaced)) {
    path.resize(path.size() - replaced.size());
  }
  return path;
}
