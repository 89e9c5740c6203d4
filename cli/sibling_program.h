#pragma once

#include <filesystem>

// The varnelo-eject command hands over to programs installed beside it: the one that ejects
// (it needs D-Bus) and the desktop application (it needs Qt), so that listing loads neither.

// The name of the variable through which those programs learn which command the user started:
// a login item must start that command, not the program behind it.
inline constexpr const char* commandPathVariable = "VARNELO_EJECT_COMMAND";

// The program at relativePath from the command's folder.
std::filesystem::path siblingProgramPath(const std::filesystem::path& commandPath,
                                         const std::filesystem::path& relativePath);

// Replaces this process with the program at relativePath from this one's folder, with the same
// arguments and this program's path in the environment. Returns only when that fails: the exit
// status, after a message on standard error.
int handOverTo(const std::filesystem::path& relativePath, char** argv);
