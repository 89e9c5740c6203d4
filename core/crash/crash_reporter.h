#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>

#include "platform/dispatcher.h"
#include "platform/http_transport.h"
#include "platform/system_crash_reports.h"

class SettingsStore;

// Captures uncaught exceptions and fatal signals into one pending record on disk, and at the
// next start uploads that record and the system's new crash reports for this program.
// Static operations only: signal and terminate handlers have nowhere else to find their state.
class CrashReporter {
 public:
  struct Setup {
    // Holds "pending-crash.txt"; created when missing.
    std::filesystem::path folder;
    HttpTransport& transport;
    SettingsStore& defaults;
    std::string endpoint;
    // None: there are no system reports to scan.
    SystemCrashReports* systemReports = nullptr;
    // Uploads run on its background queue; on a detached thread each when there is none.
    Dispatcher* dispatcher = nullptr;
    // The program's version as built; "?" is sent when it is empty.
    std::string version;
    // currentOsString() when empty.
    std::function<std::string()> osString;
    std::chrono::milliseconds timeout{8000};
  };

  // $XDG_DATA_HOME/VarneloEject, ~/.local/share/VarneloEject when unset.
  static std::filesystem::path standardFolder();
  // The program's set-up: standard folder, shared transport and settings store, built-in
  // crash endpoint and version.
  static Setup standardSetup(SystemCrashReports* systemReports, Dispatcher* dispatcher);

  // What every later operation works with; the standard set-up without system reports when
  // it is never called.
  static void configure(Setup setup);

  // Once, early at start: uploads the pending record, then the new system reports, then
  // installs the terminate handler and the handler for SIGABRT, SIGSEGV, SIGILL, SIGBUS,
  // SIGFPE and SIGTRAP.
  static void install();

  // Uploads a non-fatal error at once with the first 15 lines of the current stack.
  static void reportError(const std::string& message);

  // The steps of install() and what they use, open for tests.
  static std::filesystem::path crashFile();
  static void sendPendingCrash();
  static void sendSystemCrashReports();
  static void send(const std::string& kind, const std::string& message, const std::string& stack);

  static constexpr std::size_t maxCapturedFrames = 30;
  static constexpr std::size_t maxErrorFrames = 15;
  static constexpr std::size_t maxReportCharacters = 18000;
  // A report longer than this is read only this far: its text is cut to maxReportCharacters
  // anyway, and a core dump inside one must not fill the memory at start.
  static constexpr std::size_t maxReportBytesRead = 16 * 1024 * 1024;
};
