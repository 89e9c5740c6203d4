#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// The texts that identify this installation to the maker's server.

// The running system, e.g. "Debian GNU/Linux 12" or "Ubuntu 24.04": NAME and VERSION_ID of
// os-release, the version cut to major and minor; "Linux" and the kernel's major and minor
// version when there is no os-release.
std::string currentOsString();

// The same from given inputs: the text of an os-release file (none when missing) and the
// kernel release as uname gives it.
std::string osStringFrom(const std::optional<std::string>& osRelease,
                         std::string_view kernelRelease);

// The text of the first readable file of `candidates`.
std::optional<std::string> readOsRelease(std::initializer_list<std::filesystem::path> candidates = {
                                             "/etc/os-release", "/usr/lib/os-release"});

// The program's version as the server wants it: "?" when the build gave none.
std::string versionText(std::string_view builtVersion);

// A new random identifier in its canonical upper-case form, 36 characters with hyphens.
std::string newUuidText();
