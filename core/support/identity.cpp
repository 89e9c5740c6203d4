#include "core/support/identity.h"

#include <sys/utsname.h>

#include <fstream>
#include <sstream>

#include <uuid/uuid.h>

#include "core/utf8_text.h"

namespace {

// os-release values are shell-style: bare, or quoted with backslash escapes.
std::string unquoted(std::string_view value) {
  value = trimmed(value);
  if (value.size() < 2 || (value.front() != '"' && value.front() != '\'') ||
      value.back() != value.front()) {
    return std::string(value);
  }
  std::string text;
  for (std::size_t index = 1; index + 1 < value.size(); ++index) {
    if (value[index] == '\\' && index + 2 < value.size()) {
      ++index;
    }
    text += value[index];
  }
  return text;
}

std::optional<std::string> field(const std::string& osRelease, std::string_view key) {
  std::optional<std::string> found;
  std::istringstream lines(osRelease);
  for (std::string line; std::getline(lines, line);) {
    const std::string_view text = trimmed(line);
    if (text.size() > key.size() && text.starts_with(key) && text[key.size()] == '=') {
      found = unquoted(text.substr(key.size() + 1));
    }
  }
  return found;
}

// "24.04.1" gives "24.04", "12" stays "12".
std::string majorAndMinor(std::string_view version) {
  const auto firstDot = version.find('.');
  if (firstDot == std::string_view::npos) {
    return std::string(version);
  }
  const auto secondDot = version.find('.', firstDot + 1);
  return std::string(version.substr(0, secondDot));
}

} // namespace

std::string osStringFrom(const std::optional<std::string>& osRelease,
                         std::string_view kernelRelease) {
  if (osRelease) {
    std::string name = field(*osRelease, "NAME").value_or("");
    if (name.empty()) {
      name = "Linux"; // what os-release(5) says a missing NAME means
    }
    const std::string version = majorAndMinor(field(*osRelease, "VERSION_ID").value_or(""));
    return version.empty() ? name : name + " " + version;
  }
  // "6.1.0-18-amd64" gives "6.1".
  const auto end = kernelRelease.find_first_not_of("0123456789.");
  std::string version = majorAndMinor(kernelRelease.substr(0, end));
  while (!version.empty() && version.back() == '.') {
    version.pop_back();
  }
  return version.empty() ? "Linux" : "Linux " + version;
}

std::optional<std::string> readOsRelease(std::initializer_list<std::filesystem::path> candidates) {
  for (const auto& path : candidates) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
      continue;
    }
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
  }
  return std::nullopt;
}

std::string currentOsString() {
  struct utsname system {};
  const std::string kernel = uname(&system) == 0 ? system.release : "";
  return osStringFrom(readOsRelease(), kernel);
}

std::string versionText(std::string_view builtVersion) {
  return builtVersion.empty() ? "?" : std::string(builtVersion);
}

std::string newUuidText() {
  uuid_t value;
  uuid_generate_random(value);
  char text[37] = {};
  uuid_unparse_upper(value, text);
  return text;
}
