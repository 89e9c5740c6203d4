#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "core/settings.h"
#include "platform/dispatcher.h"
#include "platform/http_transport.h"
#include "platform/system_crash_reports.h"

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
    std::string version = {};
    // currentOsString() when empty.
    std::function<std::string()> osString = {};
    std::chrono::milliseconds timeout{8000};
    // False in a build without network features: nothing is ever uploaded.
    bool networkFeatures = true;
    // Taken out of every upload: the user's home folder (as "~") and login name.
    std::string homeFolder = {};
    std::string userName = {};
  };

  // $XDG_DATA_HOME/VarneloEject, ~/.local/share/VarneloEject when unset.
  static std::filesystem::path standardFolder();
  // The program's set-up: standard folder, shared transport, the program's settings store,
  // built-in crash endpoint and version.
  static Setup standardSetup(SettingsStore& defaults, SystemCrashReports* systemReports,
                             Dispatcher* dispatcher);

  // What every later operation works with. Until it is called, or after it is called with
  // nothing, there is nothing to record, upload or scan.
  static void configure(Setup setup);
  static void configure(std::nullopt_t);

  // Once the first-launch question is answered: sets the last run's record aside, queues
  // uploadAtStart() on the set-up's dispatcher (a thread of its own without one) and installs
  // the handlers. Never waits for the network.
  static void install();
  // As early as possible: the terminate handler and the handler for SIGABRT, SIGSEGV, SIGILL,
  // SIGBUS, SIGFPE and SIGTRAP. Sends nothing; install() may follow.
  static void installHandlers();
  // The unsent records, then the new system reports; blocks on the network.
  static void uploadAtStart();

  // Uploads a non-fatal error in the background with the first 15 lines of the current stack.
  static void reportError(const std::string& message);

  static constexpr std::size_t maxCapturedFrames = 30;
  static constexpr std::size_t maxErrorFrames = 15;
  static constexpr std::size_t maxReportCharacters = 18000;
  // A report longer than this is read only this far: its text is cut to maxReportCharacters
  // anyway, and a core dump inside one must not fill the memory at start.
  static constexpr std::size_t maxReportBytesRead = 16 * 1024 * 1024;
  // A launch stops at the first upload that fails, and after this many of each kind.
  static constexpr int maxRecordUploads = 2;
  static constexpr int maxReportUploads = 3;
  // A record or report is given up after failing on this many launches.
  static constexpr int maxAttempts = 3;
  static constexpr const char* unsentFolderName = "unsent";
  static constexpr const char* reportAttemptsKey = setting_keys::crashReportAttempts.name;

 private:
  // The steps of uploadAtStart() and what they use.
  static std::filesystem::path crashFile();
  // Moves a readable pending record among the unsent ones.
  static void setPendingRecordAside();
  // Uploads the unsent records, oldest first; each is deleted after a 2xx answer, or after its
  // third try.
  static void sendUnsentCrashes();
  // Uploads the new system reports, oldest first; the scan date moves only past those
  // delivered, or past one that failed on three launches.
  static void sendSystemCrashReports();
  // One upload, waiting for the answer: true for a 2xx status.
  static bool deliver(const std::string& kind, const std::string& message,
                      const std::string& stack);
  // One upload in the background; the answer is not looked at.
  static void send(const std::string& kind, const std::string& message, const std::string& stack);
  // The text with the home folder written "~" and the login name "<user>" wherever it stands
  // as a word of its own.
  static std::string withoutPersonalNames(std::string text, const std::string& homeFolder,
                                          const std::string& userName);
};
