#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/system_crash_reports.h"

// Apport's text reports in /var/crash. Apport names a report after the crashed executable's
// path, slashes turned into underscores, then the user's id:
// "_usr_libexec_varnelo-eject_varnelo-eject-desktop.1000.crash". Ours are the command, the
// desktop program ("-desktop") and the ejector ("-ejector"), wherever they are installed. The
// folder is shared by every user, so only regular files owned by this user count.
class ApportCrashReports : public SystemCrashReports {
 public:
  explicit ApportCrashReports(std::filesystem::path folder = "/var/crash",
                              std::string programName = "varnelo-eject", uid_t user = getuid());

  std::optional<std::filesystem::path> folder() const override { return folder_; }
  bool belongsToThisProgram(const std::filesystem::path& report) const override;
  // Only the fields that identify the crash, each with its continuation lines; never the
  // core dump, the environment, the command line, the working folder or the memory map. Of
  // the stack traces only the frames are kept, with their arguments emptied: the values of
  // arguments and local variables can hold file names.
  std::string shareableText(const std::string& reportText) const override;
  std::string fallbackMessage() const override { return "Rapport système Linux"; }

 private:
  std::filesystem::path folder_;
  std::string programName_;
  uid_t user_;
};
