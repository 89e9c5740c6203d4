#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

// The commands that eject, given their options; they live in a program of their own.
struct EjectCommandRunners {
  std::function<int(const std::vector<std::string>&)> eject;
  std::function<int(const std::vector<std::string>&)> ejectAll;
};

// The command-line use of the program: list and eject without a desktop.
// Returns the process's exit status, or nothing when the arguments are for the desktop
// application: none at all, or the toolkit's own options ("-platform offscreen").
std::optional<int> runCommandLine(const std::vector<std::string>& arguments,
                                  const EjectCommandRunners& ejectCommands);

// The message and the usage on standard error; the exit status of a wrong command line.
int usageError(const std::string& message);
