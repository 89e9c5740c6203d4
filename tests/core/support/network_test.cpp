#include "core/support/network_queue.h"

#include <chrono>

#include <gtest/gtest.h>

#include "core/crash/crash_reporter.h"
#include "core/eject_settings.h"
#include "platform/fake/fake_system_crash_reports.h"
#include "tests/core/support/message_client_rig.h"
#include "tests/support/run_command.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

CrashReporter::Setup crashSetup(MessageClientRig& rig, const std::string& endpoint,
                                Dispatcher* dispatcher, SystemCrashReports* reports) {
  return CrashReporter::Setup{.folder = rig.folder / "Crash",
                              .transport = rig.transport,
                              .defaults = *rig.store,
                              .endpoint = endpoint,
                              .systemReports = reports,
                              .dispatcher = dispatcher,
                              .version = "1.0",
                              .osString = [] { return "Linux"; },
                              .timeout = 8s,
                              .networkFeatures = rig.networkFeatures};
}

TEST(NetworkQueue, AHungCrashServerHoldsUpNeitherTheAppsQueueNorChecksNorQuitting) {
  MessageClientRig rig;
  LoopbackHttpServer hung;
  hung.setSilent(true);
  FakeSystemCrashReports reports(rig.folder / "Reports");
  writeFile(rig.folder / "Crash" / "pending-crash.txt", "Signal 11\n---\nframe");
  for (int index = 0; index < 7; ++index) {
    writeFile(rig.folder / "Reports" / ("VarneloEject-" + std::to_string(index) + ".crash"), "x");
  }
  {
    NetworkQueue network(rig.dispatcher, rig.transport);
    CrashReporter::configure(crashSetup(rig, hung.url("/crash"), &network, &reports));
    CrashReporter::install();
    ASSERT_TRUE(hung.waitForRequests(1));
    EXPECT_EQ(rig.dispatcher.pendingBackground(), 0u) << "the ejection pool stays free";
    auto client = rig.makeClient();
    client->setDispatcher(&network);
    rig.server.answer(200, MessageClientRig::offer("open", 0, ""));
    client->checkWithServer();
    test_support::waitUntil([&] { return rig.dispatcher.drainMain() != 0; }, 5s, 5ms);
    EXPECT_EQ(client->ticketState, "open") << "checked beside the hung upload";
    const auto quitting = Clock::now();
    network.shutdown();
    EXPECT_LT(Clock::now() - quitting, 1s);
  }
  EXPECT_EQ(hung.received().size(), 1u) << "a launch stops at the first upload that fails";
  EXPECT_TRUE(std::filesystem::exists(rig.folder / "Crash" / "unsent")) << "the record is kept";
  CrashReporter::configure(CrashReporter::standardSetup(nullptr, nullptr));
}

TEST(CurlHttpTransport, NeverFollowsARedirectAndAnswersWithTheRedirectItself) {
  LoopbackHttpServer first;
  LoopbackHttpServer elsewhere;
  first.route("/feed", {302, "", elsewhere.url("/feed")});
  first.route("/here", {301, "", "/feed"});
  CurlHttpTransport transport;
  for (const char* path : {"/feed", "/here"}) {
    HttpRequest request;
    request.url = first.url(path);
    request.method = "GET";
    const HttpResponse response = transport.send(request);
    EXPECT_TRUE(response.transferred) << path;
    EXPECT_EQ(response.status, std::string(path) == "/feed" ? 302 : 301);
  }
  EXPECT_EQ(first.received().size(), 2u);
  EXPECT_TRUE(elsewhere.received().empty());
}

// The user's switch stops the automatic requests only; the build option stops every one.
TEST(AutomaticServerContact, TheSwitchAndTheBuildOptionEachSendNothingAutomatic) {
  for (const bool byTheUser : {true, false}) {
    MessageClientRig rig;
    rig.networkFeatures = byTheUser;
    EXPECT_TRUE(EjectSettings::automaticServerContact(*rig.store)) << "on by default";
    if (byTheUser) {
      rig.store->set(EjectSettings::automaticServerContactKey, false);
    }
    FakeSystemCrashReports reports(rig.folder / "Reports");
    writeFile(rig.folder / "Reports" / "VarneloEject-1.crash", "Exception");
    writeFile(rig.folder / "Crash" / "pending-crash.txt", "Signal 11\n---\nframe");
    CrashReporter::configure(crashSetup(rig, rig.server.url("/crash"), &rig.dispatcher, &reports));
    CrashReporter::uploadAtStart();
    CrashReporter::reportError("oops");
    auto client = rig.makeClient();
    rig.check(*client, MessageClientRig::offer("open", 3, "Hi"));
    EXPECT_EQ(client->ticketState, "none");
    EXPECT_TRUE(rig.server.received().empty()) << byTheUser;
    EXPECT_TRUE(std::filesystem::exists(rig.folder / "Crash" / "pending-crash.txt"));
    rig.server.answer(200, R"({"ok":true})");
    EXPECT_EQ(client->reportProblem("asked for", std::nullopt), byTheUser);
    EXPECT_EQ(rig.server.received().size(), byTheUser ? 1u : 0u);
  }
  CrashReporter::configure(CrashReporter::standardSetup(nullptr, nullptr));
}

} // namespace
