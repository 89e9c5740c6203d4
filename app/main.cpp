#include <string>
#include <vector>

#include "app/cli/command_line.h"
#if defined(VARNELO_WITH_GUI)
#include "app/desktop_application.h"
#else
#include <iostream>
#endif

int main(int argc, char** argv) {
  // The commands work without a display: no application object is created for them.
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  if (const auto status = runCommandLine(arguments)) {
    return *status;
  }
#if defined(VARNELO_WITH_GUI)
  return runDesktopApplication(argc, argv);
#else
  std::cerr << "varnelo-eject: built without the desktop application; try --help\n";
  return 2;
#endif
}
