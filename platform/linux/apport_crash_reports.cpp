#include "platform/linux/apport_crash_reports.h"

#include <sys/stat.h>

#include <string_view>

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
