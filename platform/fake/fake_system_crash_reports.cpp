#include "platform/fake/fake_system_crash_reports.h"

bool FakeSystemCrashReports::belongsToThisProgram(const std::filesystem::path& report) const {
  const std::string name = report.filename().string();
  return (name.starts_with("VarneloEject") || name.starts_with("Varnelo Eject")) &&
         (name.ends_with(".ips") || name.ends_with(".crash"));
}
