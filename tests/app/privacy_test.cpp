#include <gtest/gtest.h>

#include "build_config.h"
#include "core/crash/crash_reporter.h"
#include "core/localization.h"
#include "platform/linux/apport_crash_reports.h"
#include "tests/app/app_rig.h"
#include "tests/core/test_files.h"

namespace {

using namespace std::chrono_literals;

// A fresh install, and one whose settings file (where the user had turned contact off) is set
// aside as damaged: while the first-launch question is open nothing reaches the server; once
// it is answered the records of earlier runs and the server check go.
TEST(Privacy, NothingLeavesBeforeTheFirstLaunchQuestionIsAnswered) {
  for (const bool damaged : {false, true}) {
    SCOPED_TRACE(damaged ? "damaged after an opt-out" : "fresh install");
    AppRig rig;
    SettingsStore& defaults = rig.settings.store();
    rig.settings.setAutomaticServerContact(false);
    if (damaged) {
      writeFile(defaults.file(), "<plist><dict><key>VEOnboarded</key><true/>");
    } else {
      std::filesystem::remove(defaults.file());
    }
    ApportCrashReports apport(rig.messages.folder / "Reports", "varnelo-eject", getuid());
    writeFile(rig.messages.folder / "Crash/pending-crash.txt", "Signal 11\n---\nframe");
    writeFile(rig.messages.folder /
                  ("Reports/_usr_bin_varnelo-eject." + std::to_string(getuid()) + ".crash"),
              "Signal: 6\n");
    CrashReporter::configure({.folder = rig.messages.folder / "Crash",
                              .transport = rig.messages.transport,
                              .defaults = defaults,
                              .endpoint = rig.server.url("/crash"),
                              .systemReports = &apport,
                              .dispatcher = &rig.engineRig.dispatcher,
                              .networkFeatures = build_config::networkFeatures});
    rig.installCrashReporter = [] { CrashReporter::install(); };
    rig.make();
    std::optional<std::size_t> sentDuringQuestion;
    rig.alerts.onPresent = [&](const Alert& alert) {
      if (alert.title == L("onboarding.welcome_title")) {
        rig.engineRig.dispatcher.drainAll();
        rig.server.waitForRequests(1, 300ms);
        sentDuringQuestion = rig.server.received().size();
      }
    };
    rig.application->launch();
    rig.settle();
    EXPECT_EQ(sentDuringQuestion, std::optional<std::size_t>(0));
    std::multiset<std::string> paths;
    for (const auto& request : rig.server.received()) {
      paths.insert(request.path);
    }
    // A build without network features sends nothing, answered or not.
    const std::multiset<std::string> expected =
        build_config::networkFeatures
            ? std::multiset<std::string>{"/eject/v1/check", "/crash", "/crash"}
            : std::multiset<std::string>{};
    EXPECT_EQ(paths, expected);
    CrashReporter::configure(std::nullopt);
  }
}

} // namespace
