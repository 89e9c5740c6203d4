#pragma once

#include <filesystem>
#include <string>

// The name of the variable through which the desktop program learns which command the user
// started: a login item must start that command, not the program behind it.
inline constexpr const char* commandPathVariable = "VARNELO_EJECT_COMMAND";

// The running program's own path; empty when the system cannot tell.
std::filesystem::path runningProgramPath();

// The desktop program for a command at commandPath, given the desktop program's path relative
// to the command's folder.
std::filesystem::path desktopProgramPath(const std::filesystem::path& commandPath,
                                         const std::filesystem::path& relativePath);

// Replaces this process with the desktop program, with the same arguments and the command's
// path in the environment. Returns only when that fails: the exit status, after a message on
// standard error.
int startDesktopProgram(const std::filesystem::path& relativePath, char** argv);
