#include "app/cli/command_line.h"

#include <iostream>

#include "app/cli/eject_commands.h"
#include "app/cli/linux_platform.h"
#include "app/cli/volume_listing.h"
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

int usageError(const std::string& message) {
  std::cerr << "varnelo-eject: " << message << "\n";
  printUsage(std::cerr);
  return 2;
}

// list [--json]: one discovery pass, then the volumes in display order and the summary line.
int listCommand(const std::vector<std::string>& options) {
  bool json = false;
  for (const auto& option : options) {
    if (option == "--json") {
      json = true;
    } else {
      return usageError("list: unknown option '" + printableText(option) + "'");
    }
  }
  LinuxPlatform platform;
  const auto& volumes = platform.engine().volumes();
  if (json) {
    std::cout << volumesJsonText(volumes) << "\n";
  } else {
    printVolumeLines(volumes, std::cout);
    std::cout << printableText(EjectEngine::resume(volumes)) << "\n";
  }
  return std::cout.good() ? 0 : 1;
}

struct Command {
  const char* name;
  int (*run)(const std::vector<std::string>& options);
};

// Every command, by the name typed after the program's.
constexpr Command commands[] = {
    {"list", listCommand},
    {"eject", ejectCommand},
    {"eject-all", ejectAllCommand},
};

} // namespace

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
  for (const auto& candidate : commands) {
    if (command == candidate.name) {
      return candidate.run({arguments.begin() + 1, arguments.end()});
    }
  }
  return usageError("unknown command '" + printableText(command) + "'");
}
