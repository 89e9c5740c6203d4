#include "cli/sibling_program.h"

#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <string_view>
#include <system_error>

#include "core/localization.h"
#include "core/utf8_text.h"
#include "platform/linux/running_program.h"

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
