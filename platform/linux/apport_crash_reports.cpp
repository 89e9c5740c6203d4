#include "platform/linux/apport_crash_reports.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <optional>
#include <string_view>

namespace {

// Apport's "Key: value" fields that say what crashed and where; every other field stays here.
constexpr std::array<std::string_view, 7> shareableFields{
    "ProblemType", "ExecutablePath", "Package",   "Signal",
    "SignalName",  "StacktraceTop",  "Stacktrace"};

// The command, the desktop program and the ejector.
constexpr std::array<std::string_view, 3> programSuffixes{"", "-desktop", "-ejector"};

bool isStackField(std::string_view key) {
  return key == "Stacktrace" || key == "StacktraceTop";
}

// One continuation line of a stack field, as it may leave: a frame ("#3  0x… in f (a=1) at
// x.cpp:9" in Stacktrace, "f (a=1) at x.cpp:9" in StacktraceTop) with its argument list
// emptied; nothing for gdb's indented "name = value" lines of local variables and its notes.
std::optional<std::string> shareableFrame(std::string_view line, bool numbered) {
  const std::size_t text = line.find_first_not_of(' ');
  if (text > 1 || (numbered && line[text] != '#')) {
    return std::nullopt;
  }
  std::string frame(line);
  const std::size_t open = frame.find(" (");
  const std::size_t at = frame.rfind(") at ");
  const std::size_t from = frame.rfind(") from ");
  std::size_t close = at != std::string::npos ? at : from;
  const std::size_t last = frame.find_last_not_of('\n');
  if (close == std::string::npos && last != std::string::npos && frame[last] == ')') {
    close = last;
  }
  if (open != std::string::npos && close != std::string::npos && close > open) {
    frame.replace(open + 2, close - open - 2, "");
  }
  return frame;
}

} // namespace

ApportCrashReports::ApportCrashReports(std::filesystem::path folder, std::string programName,
                                       uid_t user)
    : folder_(std::move(folder)), programName_(std::move(programName)), user_(user) {}

bool ApportCrashReports::belongsToThisProgram(const std::filesystem::path& report) const {
  const std::string name = report.filename().string();
  const std::string suffix = "." + std::to_string(user_) + ".crash";
  if (!name.starts_with("_") || !name.ends_with(suffix)) {
    return false;
  }
  const std::string_view executablePath =
      std::string_view(name).substr(0, name.size() - suffix.size());
  const bool ours =
      std::any_of(programSuffixes.begin(), programSuffixes.end(), [&](std::string_view kind) {
        return executablePath.ends_with("_" + programName_ + std::string(kind));
      });
  struct stat status {};
  return ours && lstat(report.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
         status.st_uid == user_;
}

std::string ApportCrashReports::shareableText(const std::string& reportText) const {
  std::string shared;
  bool keeping = false;
  std::string_view key;
  std::size_t start = 0;
  while (start < reportText.size()) {
    std::size_t end = reportText.find('\n', start);
    end = end == std::string::npos ? reportText.size() : end + 1;
    const std::string_view line(reportText.data() + start, end - start);
    start = end;
    // A line that starts with a space continues the field above it.
    if (line.front() != ' ') {
      key = line.substr(0, line.find(':'));
      keeping =
          line.find(':') != std::string_view::npos &&
          std::find(shareableFields.begin(), shareableFields.end(), key) != shareableFields.end() &&
          line.find(": base64") == std::string_view::npos;
      if (keeping) {
        shared += line;
      }
    } else if (keeping && !isStackField(key)) {
      shared += line;
    } else if (keeping) {
      shared += shareableFrame(line, key == "Stacktrace").value_or("");
    }
  }
  return shared;
}
