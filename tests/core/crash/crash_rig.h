#pragma once

#include <unistd.h>

#include <algorithm>
#include <iterator>

#include "core/crash/crash_reporter.h"
#include "platform/linux/apport_crash_reports.h"
#include "tests/core/support/message_client_rig.h"

// The crash reporter over the support rig's settings, loopback server and queues; apport's
// reports are in "Reports", the reporter's records in "Crash".
struct CrashRig : MessageClientRig {
  using Date = SettingsValue::Date;
  static constexpr Date base{std::chrono::seconds(1'700'000'000)};
  ApportCrashReports apport{folder / "Reports", "varnelo-eject", getuid()};

  CrashRig() { configure(); }
  ~CrashRig() { CrashReporter::configure(std::nullopt); }

  void configure(const std::string& endpoint = {}, Dispatcher* queue = nullptr) {
    CrashReporter::configure({.folder = folder / "Crash",
                              .transport = transport,
                              .defaults = *store,
                              .endpoint = endpoint.empty() ? server.url("/crash") : endpoint,
                              .systemReports = &apport,
                              .dispatcher = queue != nullptr ? queue : &dispatcher,
                              .version = "2.0.1",
                              .osString = [] { return "Ubuntu 24.04"; },
                              .networkFeatures = networkFeatures,
                              .homeFolder = "/home/ana/",
                              .userName = "ana"});
  }
  // A start of the program: the last run's record set aside, the uploads run, handlers in place.
  void launch() {
    CrashReporter::install();
    dispatcher.drainAll();
  }
  std::filesystem::path pendingFile() const { return folder / "Crash/pending-crash.txt"; }
  // The pending record and those kept aside.
  std::size_t recordsLeft() const {
    std::error_code ignored;
    const std::filesystem::directory_iterator unsent(folder / "Crash/unsent", ignored);
    return std::filesystem::exists(pendingFile()) +
           static_cast<std::size_t>(std::distance(unsent, std::filesystem::directory_iterator()));
  }
  // Apport's report of the program at `executable`, named as apport names it.
  void writeReport(std::string executable, const std::string& text, Date modified = base,
                   uid_t user = getuid()) {
    std::replace(executable.begin(), executable.end(), '/', '_');
    const auto path = folder / "Reports" / (executable + "." + std::to_string(user) + ".crash");
    writeFile(path, text);
    std::filesystem::last_write_time(path, std::chrono::file_clock::from_sys(modified));
  }
  std::vector<nlohmann::json> uploads() {
    dispatcher.drainAll();
    std::vector<nlohmann::json> bodies;
    for (const auto& request : server.received()) {
      bodies.push_back(nlohmann::json::parse(request.body));
    }
    return bodies;
  }
};
