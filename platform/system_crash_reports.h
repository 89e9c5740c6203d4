#pragma once

#include <filesystem>
#include <optional>
#include <string>

// Where the system keeps its own crash reports for this user, and which of them are ours.
class SystemCrashReports {
 public:
  virtual ~SystemCrashReports() = default;

  // The folder to scan; none when the system keeps no such folder.
  virtual std::optional<std::filesystem::path> folder() const = 0;
  // Whether the report at this path (an entry of folder()) was written for this program.
  virtual bool belongsToThisProgram(const std::filesystem::path& report) const = 0;
  // What of a report's text may leave the machine: only what identifies the crash.
  virtual std::string shareableText(const std::string& reportText) const = 0;
  // The upload's message when no line of a report names the exception or termination.
  virtual std::string fallbackMessage() const = 0;
};
