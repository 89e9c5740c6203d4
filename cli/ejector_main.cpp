#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/eject_commands.h"

// The eject and eject-all commands, which the varnelo-eject command hands over to.
int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  return runCommandLine(arguments, {ejectCommand, ejectAllCommand}).value_or(exit_status::notFound);
}
