#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/crash/crash_reporter.h"
#include "core/settings_store.h"
#include "fuzz/fuzz_support.h"
#include "platform/fake/manual_dispatcher.h"
#include "platform/http_transport.h"

// Keeps what the crash reporter uploads; the dispatcher runs the uploads when asked.
class RecordingTransport : public HttpTransport {
 public:
  std::vector<std::string> bodies;
  HttpResponse send(const HttpRequest& request) override {
    bodies.push_back(request.body);
    HttpResponse response;
    response.transferred = true;
    response.status = 200;
    return response;
  }
};

struct CrashUploadRig {
  RecordingTransport transport;
  ManualDispatcher dispatcher;
  SettingsStore defaults{fuzz_support::freshFolder("crash-settings") / "defaults.plist"};

  void configure(const std::filesystem::path& folder, SystemCrashReports* systemReports) {
    CrashReporter::configure(
        CrashReporter::Setup{folder, transport, defaults, "http://127.0.0.1:9/crash", systemReports,
                             &dispatcher, "0.1.0", [] { return std::string("Linux 6.1"); }});
  }

  // Runs the uploads and checks each one is a crash record the server can read.
  void checkUploads(std::size_t expected) {
    dispatcher.drainAll();
    if (transport.bodies.size() > expected) {
      fuzz_support::fail("more uploads than crash records");
    }
    for (const auto& body : transport.bodies) {
      const auto record = nlohmann::json::parse(body, nullptr, false);
      if (!record.is_object() || !record.contains("message") || !record["message"].is_string() ||
          !record.contains("stack") || !record["stack"].is_string() || record["kind"] != "crash") {
        fuzz_support::fail("an upload is not a well-formed crash record");
      }
    }
    transport.bodies.clear();
  }
};
