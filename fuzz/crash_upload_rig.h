#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/crash/crash_reporter.h"
#include "core/settings_store.h"
#include "fuzz/fuzz_support.h"
#include "platform/fake/manual_dispatcher.h"
#include "platform/fake/fake_http_transport.h"

struct CrashUploadRig {
  FakeHttpTransport transport;
  ManualDispatcher dispatcher;
  SettingsStore defaults{fuzz_support::freshFolder("crash-settings") / "defaults.plist"};

  // Uploads wait for the first-launch answer; the harnesses start after it.
  CrashUploadRig() { defaults.set("VEOnboarded", true); }

  void configure(const std::filesystem::path& folder, SystemCrashReports* systemReports) {
    CrashReporter::configure(CrashReporter::Setup{.folder = folder,
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

  // Runs the uploads and checks each one is a crash record the server can read.
  void checkUploads(std::size_t expected) {
    dispatcher.drainAll();
    const auto requests = transport.takeRequests();
    if (requests.size() > expected) {
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
