#include "cli/command_line.h"

#include <algorithm>
#include <iostream>
#include <string_view>

#include "cli/exit_status.h"
#include "cli/linux_platform.h"
#include "cli/volume_listing.h"
#include "build_config.h"
#include "core/localization.h"

namespace {

// Qt's own options, which the desktop application takes (with one dash or two).
constexpr std::string_view desktopOptions[] = {"platform",
                                               "platformpluginpath",
                                               "platformtheme",
                                               "plugin",
                                               "qwindowgeometry",
                                               "qwindowicon",
                                               "qwindowtitle",
                                               "reverse",
                                               "session",
                                               "display",
                                               "geometry",
                                               "style",
                                               "stylesheet",
                                               "widgetcount",
                                               "nograb",
                                               "dograb",
                                               "sync",
                                               "name",
                                               "title",
                                               "visual"};

bool isDesktopOption(std::string_view argument) {
  if (argument.starts_with("--")) {
    argument.remove_prefix(2);
  } else if (argument.starts_with("-")) {
    argument.remove_prefix(1);
  } else {
    return false;
  }
  return std::find(std::begin(desktopOptions), std::end(desktopOptions), argument) !=
         std::end(desktopOptions);
}

// list [--json]: one discovery pass, then the volumes in display order and the summary line.
int listCommand(const std::vector<std::string>& options) {
  bool json = false;
  for (const auto& option : options) {
    if (option == "--json") {
      json = true;
    } else {
      return usageError(L("cli.unknown_option", "list", option));
    }
  }
  LinuxPlatform platform(std::unique_ptr<Ejector>{});
  const auto& volumes = platform.engine().volumes();
  if (json) {
    std::cout << volumesJsonText(volumes) << "\n";
  } else {
    printVolumeLines(volumes, std::cout);
    std::cout << printableText(EjectEngine::resume(volumes)) << "\n";
  }
  std::cout.flush();
  return std::cout.good() ? exit_status::done : exit_status::refused;
}

} // namespace

int usageError(const std::string& message) {
  std::cerr << "varnelo-eject: " << printableText(message) << "\n\n" << L("cli.usage");
  return exit_status::notFound;
}

std::optional<int> runCommandLine(const std::vector<std::string>& arguments,
                                  const EjectCommandRunners& ejectCommands) {
  if (arguments.empty() || isDesktopOption(arguments.front())) {
    return std::nullopt;
  }
  const std::string& command = arguments.front();
  if (command == "--help" || command == "-h" || command == "help") {
    std::cout << L("cli.usage");
    return exit_status::done;
  }
  if (command == "--version") {
    std::cout << "varnelo-eject " << build_config::version << "\n";
    return exit_status::done;
  }
  const std::vector<std::string> options(arguments.begin() + 1, arguments.end());
  if (command == "list") {
    return listCommand(options);
  }
  if (command == "eject" && ejectCommands.eject) {
    return ejectCommands.eject(options);
  }
  if (command == "eject-all" && ejectCommands.ejectAll) {
    return ejectCommands.ejectAll(options);
  }
  return usageError(L("cli.unknown_command", command));
}
