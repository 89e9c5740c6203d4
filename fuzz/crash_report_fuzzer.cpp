// Crash records uploaded at start: any bytes as the record the last run left, and as a system
// crash report of this program (apport's text format).
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "core/crash/crash_reporter.h"
#include "core/settings_store.h"
#include "fuzz/fuzz_support.h"
#include "platform/fake/fake_http_transport.h"
#include "platform/fake/manual_dispatcher.h"
#include "platform/linux/apport_crash_reports.h"

namespace {

struct Rig {
  FakeHttpTransport transport;
  ManualDispatcher dispatcher;
  SettingsStore defaults{fuzz_support::freshFolder("crash-settings") / "defaults.plist"};

  // Uploads wait for the first-launch answer; the harnesses start after it.
  Rig() { defaults.set("VEOnboarded", true); }

  void configure(SystemCrashReports* systemReports) {
    CrashReporter::configure(CrashReporter::Setup{.folder = fuzz_support::freshFolder("reporter"),
                                                  .transport = transport,
                                                  .defaults = defaults,
                                                  .endpoint = "http://127.0.0.1:9/crash",
                                                  .systemReports = systemReports,
                                                  .dispatcher = &dispatcher,
                                                  .version = "0.1.0",
                                                  .osString = [] { return "Linux 6.1"; },
                                                  .homeFolder = "/home/fuzz",
                                                  .userName = "fuzz"});
  }

  // Runs the uploads: at most one, a crash record the server can read.
  void checkUploads() {
    dispatcher.drainAll();
    const auto requests = transport.takeRequests();
    if (requests.size() > 1) {
      fuzz_support::fail("more uploads than crash records");
    }
    for (const auto& request : requests) {
      const auto record = nlohmann::json::parse(request.body, nullptr, false);
      if (!record.is_object() || !record.contains("message") || !record["message"].is_string() ||
          !record.contains("stack") || !record["stack"].is_string() || record["kind"] != "crash") {
        fuzz_support::fail("an upload is not a well-formed crash record");
      }
    }
  }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Rig* rig = new Rig; // outlives exit-time code
  const std::string bytes = fuzz_support::asText(data, size);

  rig->configure(nullptr);
  writeFile(CrashReporter::crashFile(), bytes);
  CrashReporter::sendPendingCrash();
  rig->checkUploads();

  const auto reports = fuzz_support::freshFolder("reports");
  ApportCrashReports systemReports(reports, "varnelo-eject", getuid());
  rig->configure(&systemReports);
  rig->defaults.remove("VELastCrashScan"); // every input is a new report
  writeFile(reports / ("_usr_bin_varnelo-eject." + std::to_string(getuid()) + ".crash"), bytes);
  CrashReporter::sendSystemCrashReports();
  rig->checkUploads();
  return 0;
}
