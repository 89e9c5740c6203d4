#include "platform/linux/xdg_autostart_login_item.h"

#include <fcntl.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <string_view>
#include <system_error>
#include <utility>

#include "core/utf8_text.h"
#include "platform/linux/running_program.h"

namespace {

bool equalsIgnoringCase(std::string_view left, std::string_view right) {
  if (left.size() != right.size()) {
    return false;
  }
  for (std::size_t index = 0; index < left.size(); ++index) {
    const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
    if (lower(left[index]) != lower(right[index])) {
      return false;
    }
  }
  return true;
}

// A string value of a desktop entry: the escapes of the file format, one line.
std::string escapedValue(std::string_view text) {
  std::string value;
  for (const char c : text) {
    switch (c) {
    case '\\':
      value += "\\\\";
      break;
    case '\n':
      value += "\\n";
      break;
    case '\t':
      value += "\\t";
      break;
    case '\r':
      value += "\\r";
      break;
    default:
      value += c;
    }
  }
  return value;
}

std::string systemError(const std::string& what, int error) {
  return what + ": " + std::strerror(error);
}

// Writes the whole text to a new file beside the target, then renames it over the target, so
// the desktop never reads half an entry.
std::optional<std::string> writeAtomically(const std::filesystem::path& target,
                                           const std::string& text) {
  std::string pattern = (target.parent_path() / ("." + target.filename().string() + ".XXXXXX"));
  const int fd = mkstemp(pattern.data());
  if (fd < 0) {
    return systemError("cannot write in " + target.parent_path().string(), errno);
  }
  const auto fail = [&](const std::string& what) {
    const int error = errno;
    ::close(fd);
    ::unlink(pattern.c_str());
    return systemError(what, error);
  };
  std::size_t written = 0;
  while (written < text.size()) {
    const ssize_t count = ::write(fd, text.data() + written, text.size() - written);
    if (count < 0) {
      if (errno == EINTR) {
        continue;
      }
      return fail("cannot write " + pattern);
    }
    written += static_cast<std::size_t>(count);
  }
  if (::fchmod(fd, 0644) != 0 || ::fsync(fd) != 0) {
    return fail("cannot write " + pattern);
  }
  if (::close(fd) != 0) {
    const int error = errno;
    ::unlink(pattern.c_str());
    return systemError("cannot write " + pattern, error);
  }
  if (::rename(pattern.c_str(), target.c_str()) != 0) {
    const int error = errno;
    ::unlink(pattern.c_str());
    return systemError("cannot create " + target.string(), error);
  }
  return std::nullopt;
}

} // namespace

XdgAutostartLoginItem::XdgAutostartLoginItem(std::filesystem::path autostartFolder, Entry entry)
    : folder_(std::move(autostartFolder)), entry_(std::move(entry)) {}

std::filesystem::path XdgAutostartLoginItem::standardFolder(const Environment& environment) {
  const auto variable = [&](const std::string& name) -> std::optional<std::string> {
    if (environment) {
      return environment(name);
    }
    const char* value = std::getenv(name.c_str());
    return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
  };
  // A relative XDG_CONFIG_HOME is invalid and must be ignored.
  if (const auto configHome = variable("XDG_CONFIG_HOME");
      configHome && !configHome->empty() && configHome->front() == '/') {
    return std::filesystem::path(*configHome) / "autostart";
  }
  std::string home = variable("HOME").value_or("");
  if (home.empty()) {
    if (const passwd* user = getpwuid(getuid()); user != nullptr && user->pw_dir != nullptr) {
      home = user->pw_dir;
    }
  }
  return std::filesystem::path(home) / ".config" / "autostart";
}

std::string XdgAutostartLoginItem::runningExecutable() {
  // The varnelo-eject command starts the desktop program from libexec and names itself here:
  // the command is what users know, and what keeps working across upgrades.
  if (const char* command = getenv("VARNELO_EJECT_COMMAND");
      command != nullptr && command[0] == '/' && ::access(command, X_OK) == 0) {
    return command;
  }
  return runningProgramPath().string();
}

std::string XdgAutostartLoginItem::execArgument(const std::string& path) {
  constexpr std::string_view reserved = " \t\n\"'\\><~|&;$*?#()`";
  std::string argument;
  const bool quote = path.find_first_of(reserved) != std::string::npos;
  for (const char c : path) {
    if (c == '%') {
      argument += "%%"; // otherwise read as a field code
    } else if (quote && (c == '"' || c == '`' || c == '$' || c == '\\')) {
      argument += '\\';
      argument += c;
    } else {
      argument += c;
    }
  }
  // The Exec value is itself a string value: its backslashes are escaped once more.
  return escapedValue(quote ? "\"" + argument + "\"" : argument);
}

std::string XdgAutostartLoginItem::entryText() const {
  std::string text = "[Desktop Entry]\n"
                     "Type=Application\n";
  text += "Name=" + escapedValue(entry_.name) + "\n";
  text += "Exec=" + execArgument(entry_.executable) + "\n";
  if (!entry_.icon.empty()) {
    text += "Icon=" + escapedValue(entry_.icon) + "\n";
  }
  text += "Terminal=false\n"
          "X-GNOME-Autostart-enabled=true\n";
  return text;
}

LoginItemStatus XdgAutostartLoginItem::status() {
  std::error_code error;
  const auto type = std::filesystem::status(entryPath(), error).type();
  if (type == std::filesystem::file_type::not_found) {
    return LoginItemStatus::notRegistered;
  }
  std::ifstream file(entryPath());
  if (type != std::filesystem::file_type::regular || !file) {
    // Something is there that the session cannot start either.
    return LoginItemStatus::disabled;
  }
  bool inMainGroup = false;
  std::string line;
  while (std::getline(file, line)) {
    const std::string_view text = trimmed(line);
    if (text.empty() || text.front() == '#') {
      continue;
    }
    if (text.front() == '[') {
      inMainGroup = text == "[Desktop Entry]";
      continue;
    }
    const auto equals = text.find('=');
    if (!inMainGroup || equals == std::string_view::npos) {
      continue;
    }
    const std::string_view key = trimmed(text.substr(0, equals));
    const std::string_view value = trimmed(text.substr(equals + 1));
    if ((key == "Hidden" && equalsIgnoringCase(value, "true")) ||
        (key == "X-GNOME-Autostart-enabled" && equalsIgnoringCase(value, "false"))) {
      return LoginItemStatus::disabled;
    }
  }
  return LoginItemStatus::enabled;
}

LoginItemOutcome XdgAutostartLoginItem::registerItem() {
  if (entry_.executable.empty() || entry_.executable.front() != '/') {
    return {false, "the program's own path is unknown"};
  }
  std::error_code error;
  std::filesystem::create_directories(folder_, error);
  if (error) {
    return {false, "cannot create " + folder_.string() + ": " + error.message()};
  }
  if (auto failure = writeAtomically(entryPath(), entryText())) {
    return {false, std::move(*failure)};
  }
  return {true, {}};
}

LoginItemOutcome XdgAutostartLoginItem::unregisterItem() {
  std::error_code error;
  std::filesystem::remove(entryPath(), error);
  if (error) {
    return {false, "cannot remove " + entryPath().string() + ": " + error.message()};
  }
  return {true, {}};
}
