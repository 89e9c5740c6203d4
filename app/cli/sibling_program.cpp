#include "app/cli/sibling_program.h"

#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <string_view>
#include <system_error>

#include "core/localization.h"
#include "core/utf8_text.h"

std::filesystem::path runningProgramPath() {
  std::error_code error;
  std::string path = std::filesystem::read_symlink("/proc/self/exe", error).string();
  if (error) {
    return {};
  }
  // The kernel marks a program whose file was replaced while it ran (an upgrade).
  constexpr std::string_view replaced = " (deleted)";
  if (path.ends_with(replaced)) {
    path.resize(path.size() - replaced.size());
  }
  return path;
}

std::filesystem::path siblingProgramPath(const std::filesystem::path& commandPath,
                                         const std::filesystem::path& relativePath) {
  return (commandPath.parent_path() / relativePath).lexically_normal();
}

int handOverTo(const std::filesystem::path& relativePath, char** argv) {
  const auto command = runningProgramPath();
  const auto program = siblingProgramPath(command, relativePath);
  if (!command.empty()) {
    setenv(commandPathVariable, command.c_str(), 1);
  }
  execv(program.c_str(), argv);
  const int error = errno;
  std::cerr << "varnelo-eject: "
            << printableText(L("cli.program_unavailable", program.string(), std::strerror(error)))
            << "\n";
  return 127;
}
