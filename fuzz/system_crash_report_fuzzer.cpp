// A system crash report of this program (apport's text format): any bytes, uploaded at start.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/crash_upload_rig.h"
#include "platform/linux/apport_crash_reports.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static CrashUploadRig* rig = new CrashUploadRig; // outlives exit-time code
  const auto reports = fuzz_support::freshFolder("reports");
  ApportCrashReports systemReports(reports, "varnelo-eject", getuid());
  rig->configure(fuzz_support::freshFolder("reporter"), &systemReports);
  // Every input is a new report: forget the last scan.
  rig->defaults.remove("VELastCrashScan");
  fuzz_support::writeFile(reports /
                              ("_usr_bin_varnelo-eject." + std::to_string(getuid()) + ".crash"),
                          fuzz_support::asText(data, size));
  CrashReporter::sendSystemCrashReports();
  rig->checkUploads(1);
  return 0;
}
