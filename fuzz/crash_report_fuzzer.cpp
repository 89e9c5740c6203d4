// Crash records uploaded at start: any bytes as the record the last run left, and as a system
// crash report of this program (apport's text format).
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "tests/core/crash/crash_rig.h"

namespace {

// Runs the uploads: at most one, a crash record the server can read (a body that is not JSON
// throws: a finding too).
void checkUploads(CrashRig& rig) {
  auto records = rig.uploads();
  rig.server.forget();
  if (records.size() > 1) {
    fuzz_support::fail("more uploads than crash records");
  }
  for (auto& record : records) {
    if (!record.is_object() || !record["message"].is_string() || !record["stack"].is_string() ||
        record["kind"] != "crash") {
      fuzz_support::fail("an upload is not a well-formed crash record");
    }
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static CrashRig* rig = new CrashRig; // outlives exit-time code
  const std::string bytes = fuzz_support::asText(data, size);
  // As the last run's record once set aside: the fuzzer's own crash handlers stay in place.
  writeFile(rig->folder / "Crash/unsent/0-1.txt", bytes);
  CrashReporter::uploadAtStart();
  checkUploads(*rig);
  rig->store->remove("VELastCrashScan"); // every input is a new report
  rig->writeReport("/usr/bin/varnelo-eject", bytes);
  CrashReporter::uploadAtStart();
  checkUploads(*rig);
  return 0;
}
