// The pending crash record left by the last run: any bytes, uploaded at the next start.
#include <cstddef>
#include <cstdint>
#include <filesystem>

#include "fuzz/crash_upload_rig.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static CrashUploadRig* rig = new CrashUploadRig; // outlives exit-time code
  const auto folder = fuzz_support::freshFolder("pending");
  rig->configure(folder, nullptr);
  fuzz_support::writeFile(CrashReporter::crashFile(), fuzz_support::asText(data, size));
  CrashReporter::sendPendingCrash();
  rig->checkUploads(1);
  return 0;
}
