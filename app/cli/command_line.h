#pragma once

#include <optional>
#include <string>
#include <vector>

// The command-line use of the program: list and eject without a desktop.
// Returns the process's exit status, or nothing when the arguments are for the desktop
// application: none at all, or the toolkit's own options ("-platform offscreen").
std::optional<int> runCommandLine(const std::vector<std::string>& arguments);

// The message and the usage on standard error; the exit status of a wrong command line.
int usageError(const std::string& message);
