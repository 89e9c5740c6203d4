#include "platform/linux/apport_crash_reports.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <string_view>

namespace {

// Apport's "Key: value" fields that say what crashed and where; every other field stays here.
constexpr std::array<std::string_view, 7> shareableFields{
    "ProblemType", "ExecutablePath", "Package",   "Signal",
    "SignalName",  "StacktraceTop",  "Stacktrace"};

} // namespace

ApportCrashReports::ApportCrashReports(std::filesystem::path folder, std::string programName,
                                       uid_t user)
    : folder_(std::move(folder)), programName_(std::move(programName)), user_(user) {}

bool ApportCrashReports::belongsToThisProgram(const std::filesystem::path& report) const {
  const std::string name = report.filename().string();
  const std::string suffix = "." + std::to_string(user_) + ".crash";
  const std::string program = "_" + programName_;
  if (name.size() < program.size() + suffix.size() || !name.ends_with(suffix)) {
    return false;
  }
  const std::string_view executablePath =
      std::string_view(name).substr(0, name.size() - suffix.size());
  if (!executablePath.starts_with("_") || !executablePath.ends_with(program)) {
    return false;
  }
  struct stat status {};
  if (lstat(report.c_str(), &status) != 0) {
    return false;
  }
  return S_ISREG(status.st_mode) && status.st_uid == user_;
}

std::string ApportCrashReports::shareableText(const std::string& reportText) const {
  std::string shared;
  bool keeping = false;
  std::size_t start = 0;
  while (start < reportText.size()) {
    std::size_t end = reportText.find('\n', start);
    end = end == std::string::npos ? reportText.size() : end + 1;
    const std::string_view line(reportText.data() + start, end - start);
    // A line that starts with a space continues the field above it.
    if (line.front() != ' ') {
      const std::string_view key = line.substr(0, line.find(':'));
      keeping =
          line.find(':') != std::string_view::npos &&
          std::find(shareableFields.begin(), shareableFields.end(), key) != shareableFields.end() &&
          line.find(": base64") == std::string_view::npos;
    }
    if (keeping) {
      shared += line;
    }
    start = end;
  }
  return shared;
}
