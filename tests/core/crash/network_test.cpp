#include "core/support/network_queue.h"

#include <chrono>

#include <gtest/gtest.h>

#include "core/eject_settings.h"
#include "tests/core/crash/crash_rig.h"
#include "tests/support/run_command.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(NetworkQueue, AHungCrashServerHoldsUpNeitherTheAppsQueueNorChecksNorQuitting) {
  CrashRig rig;
  LoopbackHttpServer hung;
  hung.setSilent(true);
  writeFile(rig.pendingFile(), "Signal 11\n---\nframe");
  for (int index = 0; index < 7; ++index) {
    rig.writeReport("/bin" + std::to_string(index) + "/varnelo-eject", "Signal: 6\n");
  }
  {
    NetworkQueue network(rig.dispatcher, rig.transport);
    rig.configure(hung.url("/crash"), &network);
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
}

// Before the first-launch answer (or after a damaged settings file read as a fresh install) and
// with the user's switch off, nothing automatic goes; the build option stops every request.
TEST(AutomaticServerContact, NoAnswerTheSwitchAndTheBuildOptionEachSendNothingAutomatic) {
  for (const char* stop : {"unanswered", "switch", "build"}) {
    CrashRig rig;
    rig.networkFeatures = std::string(stop) != "build";
    EXPECT_TRUE(EjectSettings::automaticServerContact(*rig.store)) << "on by default";
    if (std::string(stop) == "unanswered") {
      rig.store->remove(SupportClient::onboardedKey);
    } else if (std::string(stop) == "switch") {
      rig.store->set(EjectSettings::automaticServerContactKey, false);
    }
    rig.writeReport("/usr/bin/varnelo-eject", "Signal: 6\n");
    writeFile(rig.pendingFile(), "Signal 11\n---\nframe");
    rig.configure();
    CrashReporter::install();
    CrashReporter::reportError("oops");
    auto client = rig.makeClient();
    rig.check(*client, MessageClientRig::offer("open", 3, "Hi"));
    EXPECT_EQ(client->ticketState, "none");
    EXPECT_TRUE(rig.server.received().empty()) << stop;
    EXPECT_TRUE(std::filesystem::exists(rig.pendingFile()));
    rig.server.answer(200, R"({"ok":true})");
    EXPECT_EQ(client->reportProblem("asked for", std::nullopt), rig.networkFeatures);
    EXPECT_EQ(rig.server.received().size(), rig.networkFeatures ? 1u : 0u);
  }
}

} // namespace
