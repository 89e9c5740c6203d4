#include "core/support/support_client.h"

#include <set>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "core/support/endpoints.h"
#include "core/support/identity.h"
#include "tests/core/support/message_client_rig.h"

namespace {

using namespace std::chrono_literals;

class SupportClientTest : public ::testing::Test {
 protected:
  MessageClientRig rig;
  std::unique_ptr<SupportClient> client = rig.makeClient();
};

// An empty address is left out, a blank one is not; no header of our own, compact bodies.
TEST_F(SupportClientTest, Send_PostsCompactBodiesWithoutHeadersAndOneDeviceIdAcrossClients) {
  rig.server.answer(200, R"({"ok":true})");
  EXPECT_TRUE(client->reportProblem("It froze\nafter ejecting", "me@example.org"));
  client->reportProblem("one", std::string());
  client->reportProblem("two", std::string("   "));
  rig.version = "";
  rig.makeClient()->reportProblem(std::string(3 * 1024 * 1024, 'x'), std::nullopt);
  const auto requests = rig.server.received();
  ASSERT_EQ(requests.size(), 4u);
  const std::string id = nlohmann::json::parse(requests[0].body)["d"];
  EXPECT_TRUE(id.size() == 36u && id[14] == '4') << "a random (version 4) identifier";
  EXPECT_EQ(id.find_first_of("abcdef"), std::string::npos);
  for (std::size_t index = 0; index < requests.size(); ++index) {
    const auto body = nlohmann::json::parse(requests[index].body);
    std::set<std::string> keys{"d", "v", "os", "text"};
    if (index % 2 == 0) {
      keys.insert("email");
    }
    EXPECT_TRUE(keysOf(body) == keys && body["d"] == id) << index;
    EXPECT_TRUE(requests[index].method == "POST" && requests[index].path == "/eject/v1/report");
    EXPECT_EQ(requests[index].headers.count("Content-Type") +
                  requests[index].headers.count("Expect"),
              0u);
    EXPECT_EQ(requests[index].body.size(), body.dump().size()) << "compact: " << index;
  }
  EXPECT_EQ(nlohmann::json::parse(requests[0].body)["email"], "me@example.org");
  EXPECT_EQ(nlohmann::json::parse(requests[2].body)["email"], "   ");
  EXPECT_EQ(nlohmann::json::parse(requests[3].body)["v"], "?");
  EXPECT_EQ(SupportClient::encodeBody({{"bad", "x\xffy"}}), "{\"bad\":\"x\xEF\xBF\xBDy\"}");
}

TEST_F(SupportClientTest, Report_OnlyStatus200WithOkReadingTrueIsAccepted) {
  const std::tuple<int, std::string, bool> answers[] = {
      {200, R"({"ok":true})", true},   {200, R"({"ok":1,"ticket":"T-1"})", true},
      {201, R"({"ok":true})", false},  {200, R"({"ok":"true"})", false},
      {200, R"({"ok":2})", false},     {200, R"([true])", false},
      {200, "<html>ok</html>", false}, {200, std::string(50000, '['), false}};
  for (const auto& [status, body, accepted] : answers) {
    rig.server.answer(status, body);
    EXPECT_EQ(client->reportProblem("text", std::nullopt), accepted) << status << body;
  }
  rig.server.answer(200, R"({"ok":true,"pad":")" + std::string(HttpTransport::maxAnswerBytes, 'a') +
                             R"("})");
  EXPECT_FALSE(client->reportProblem("text", std::nullopt)) << "over the size limit";
  EXPECT_FALSE(rig.makeClient({}, "http://127.0.0.1:1/r")->reportProblem("text", std::nullopt));
  rig.server.setSilent(true);
  EXPECT_FALSE(client->send(rig.server.url("/check"), {}, 300ms).transferred);
  rig.server.setSilent(false);
}

TEST_F(SupportClientTest, Reply_ThatFailsIsMarkedNotSentAndSendingItAgainClearsTheMark) {
  rig.server.answer(500, R"({"ok":true})");
  std::vector<bool> results;
  client->sendReply("Still broken", [&](bool accepted) { results.push_back(accepted); });
  rig.dispatcher.drainAll();
  const ArchivedMessage reply = client->messageHistory().front();
  EXPECT_TRUE(reply.mine && !reply.sent);
  rig.server.answer(200, R"({"ok":true})");
  client->resendReply(reply, [&](bool accepted) { results.push_back(accepted); });
  rig.dispatcher.drainAll();
  EXPECT_EQ(results, (std::vector<bool>{false, true}));
  EXPECT_TRUE(client->messageHistory().front().sent);
  const auto stored = rig.store->object(MessageHistory::key);
  EXPECT_EQ(keysOf(nlohmann::json::parse(rig.server.received().back().body)),
            (std::set<std::string>{"d", "v", "os", "text"}));
  EXPECT_EQ(stored->as<SettingsValue::Array>()->front().as<SettingsValue::Dictionary>()->size(),
            4u);
}

TEST_F(SupportClientTest, DeviceId_StoredOnceKeptInAnyFormAndAgreedOnBySimultaneousFirstCalls) {
  auto second = rig.makeClient();
  std::vector<std::string> ids(8);
  std::vector<std::thread> threads;
  for (std::size_t index = 0; index < ids.size(); ++index) {
    threads.emplace_back([&, index] { ids[index] = (index % 2 ? *client : *second).deviceId(); });
  }
  for (auto& thread : threads) {
    thread.join();
  }
  EXPECT_EQ(std::set<std::string>(ids.begin(), ids.end()).size(), 1u);
  EXPECT_EQ(SettingsStore(rig.folder / "defaults.plist").string("VEDeviceId"), ids.front());
  rig.store->set("VEDeviceId", "not-a-uuid, lower case");
  EXPECT_EQ(rig.makeClient()->identityFields()["d"], "not-a-uuid, lower case");
}

TEST(OsString, NamesTheDistributionAndVersionWithoutPatchOrFallsBackToTheKernel) {
  const std::filesystem::path releases =
      std::filesystem::path(VARNELO_TEST_FIXTURES) / "os-release";
  const std::tuple<std::optional<std::string>, const char*, const char*> cases[] = {
      {readOsRelease({"/nonexistent", releases / "debian-12"}), "6.1.0", "Debian GNU/Linux 12"},
      {readOsRelease({releases / "alpine-3.19.1"}), "6.6.7", "Alpine Linux 3.19"},
      {readOsRelease({releases / "arch"}), "6.7.1-arch1-1", "Arch Linux"},
      {"NAME='Odd \"OS\"'\nVERSION_ID=7\n", "6.1", "Odd \"OS\" 7"},
      {"NAME=\"Back\\\\slash\"\nVERSION_ID=\"1.2.3\"\n", "6.1", "Back\\slash 1.2"},
      {"# comment\nVERSION_ID=5\n", "6.1", "Linux 5"},
      {readOsRelease({"/nonexistent"}), "6.18.44-fc-v1272", "Linux 6.18"},
      {std::nullopt, "", "Linux"}};
  for (const auto& [text, kernel, expected] : cases) {
    EXPECT_EQ(osStringFrom(text, kernel), expected) << text.value_or("none") << kernel;
  }
  EXPECT_EQ(versionText(""), "?");
  // Only http addresses with a host are taken from the build's configuration.
  for (const char* text : {"", "api.example.com/check", "ftp://example.com/", "https:///path"}) {
    EXPECT_FALSE(Endpoints::isUsableUrl(text)) << text;
  }
}

} // namespace
