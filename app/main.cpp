#include <iostream>
#include <string>
#include <vector>

#include "app/cli/command_line.h"

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  if (const auto status = runCommandLine(arguments)) {
    return *status;
  }
  std::cerr << "varnelo-eject: the desktop application is not built in yet; try --help\n";
  return 2;
}
