#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "platform/system_crash_reports.h"

// A report folder chosen by the test, with the desktop naming rule: a name that begins with
// "VarneloEject" or "Varnelo Eject" and ends with ".ips" or ".crash".
class FakeSystemCrashReports : public SystemCrashReports {
 public:
  explicit FakeSystemCrashReports(std::optional<std::filesystem::path> folder)
      : folder_(std::move(folder)) {}

  std::optional<std::filesystem::path> folder() const override { return folder_; }
  bool belongsToThisProgram(const std::filesystem::path& report) const override;
  // The whole text: these reports are the test's own.
  std::string shareableText(const std::string& reportText) const override { return reportText; }
  std::string fallbackMessage() const override { return "Rapport système macOS"; }

 private:
  std::optional<std::filesystem::path> folder_;
};
