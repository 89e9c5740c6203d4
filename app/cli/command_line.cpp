#include "app/cli/command_line.h"

#include <iostream>

#include "build_config.h"

namespace {

void printUsage(std::ostream& out) {
  out << "Usage: varnelo-eject [COMMAND]\n"
         "\n"
         "Without a command, starts the desktop application.\n"
         "\n"
         "Commands:\n"
         "  list [--json]              list the mounted external volumes and a summary\n"
         "  eject NAME-OR-MOUNT-PATH   eject one volume\n"
         "  eject-all                  eject every volume the settings allow\n"
         "  --help                     show this help\n"
         "  --version                  show the version\n";
}

}  // namespace

std::optional<int> runCommandLine(const std::vector<std::string>& arguments) {
  if (arguments.empty()) {
    return std::nullopt;
  }
  const std::string& command = arguments.front();
  if (command == "--help" || command == "-h" || command == "help") {
    printUsage(std::cout);
    return 0;
  }
  if (command == "--version") {
    std::cout << "varnelo-eject " << build_config::version << "\n";
    return 0;
  }
  std::cerr << "varnelo-eject: unknown command '" << command << "'\n";
  printUsage(std::cerr);
  return 2;
}
