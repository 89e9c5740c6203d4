#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/sibling_program.h"

int main(int argc, char** argv) {
  // Listing needs neither D-Bus nor Qt: this program links neither, and becomes the program
  // that ejects, or the desktop application, when asked for them.
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  const auto eject = [argv](const std::vector<std::string>&) {
    return handOverTo(VARNELO_EJECTOR_PROGRAM, argv);
  };
  if (const auto status = runCommandLine(arguments, {eject, eject})) {
    return *status;
  }
  return handOverTo(VARNELO_DESKTOP_PROGRAM, argv);
}
