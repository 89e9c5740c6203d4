#include <string>
#include <vector>

#include "app/cli/command_line.h"
#include "app/cli/desktop_launch.h"

int main(int argc, char** argv) {
  // The commands need no display, and this program links no Qt.
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  if (const auto status = runCommandLine(arguments)) {
    return *status;
  }
  return startDesktopProgram(VARNELO_DESKTOP_PROGRAM, argv);
}
