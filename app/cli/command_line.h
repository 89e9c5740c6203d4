#pragma once

#include <string>
#include <vector>

// The command-line use of the program: list and eject without a desktop.
// Returns the process's exit status, or nothing when the arguments ask for the desktop
// application.
#include <optional>

std::optional<int> runCommandLine(const std::vector<std::string>& arguments);
