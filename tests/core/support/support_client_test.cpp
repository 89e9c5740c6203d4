#include "core/support/support_client.h"

#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/support/endpoints.h"
#include "core/support/identity.h"
#include "core/support/server_check.h"
#include "tests/core/support/message_client_rig.h"

namespace {

using namespace std::chrono_literals;

class SupportClientTest : public ::testing::Test {
 protected:
  MessageClientRig rig;
  std::unique_ptr<SupportClient> client = rig.makeClient();
};
using ServerCheckTest = SupportClientTest;

// An empty address is left out, a blank one is not; no header of our own, compact bodies; one
// stored device identifier for every client.
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
    keys.insert(index % 2 == 0 ? "email" : "text");
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
  EXPECT_EQ(SettingsStore(rig.folder / "defaults.plist").string("VEDeviceId"), id);
  rig.store->set("VEDeviceId", "not-a-uuid, lower case"); // kept in whatever form it was stored
  rig.makeClient()->reportProblem("three", std::nullopt);
  EXPECT_EQ(nlohmann::json::parse(rig.server.received().back().body)["d"],
            "not-a-uuid, lower case");
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
  EXPECT_EQ(keysOf(nlohmann::json::parse(rig.server.received().back().body)),
            (std::set<std::string>{"d", "v", "os", "text"}));
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

TEST_F(ServerCheckTest, Body_HasAFreshNonceAndTheAcknowledgementOnlyWhenAPositiveInteger) {
  rig.check(*client, MessageClientRig::offer("open", 41, "We fixed it"));
  client->markMessageShown();
  rig.check(*client, MessageClientRig::offer("open", 0, ""));
  const auto first = nlohmann::json::parse(rig.server.received()[0].body);
  const auto second = nlohmann::json::parse(rig.server.received()[1].body);
  EXPECT_EQ(rig.server.received()[0].path, "/eject/v1/check");
  EXPECT_EQ(keysOf(first), (std::set<std::string>{"n", "d", "v", "os", "c"}));
  EXPECT_TRUE(first["c"] == "direct" && first["os"] == "Debian GNU/Linux 12" && second["m"] == 41);
  const std::string nonce = first["n"];
  EXPECT_TRUE(nonce.size() == 32u &&
              nonce.find_first_not_of("0123456789ABCDEF") == std::string::npos);
  EXPECT_NE(nonce, second["n"]);
  for (const SettingsValue& value : {SettingsValue("7"), SettingsValue(0), SettingsValue(-3),
                                     SettingsValue(7.0), SettingsValue(true)}) {
    rig.store->set(ShownMessages::acknowledgedKey, value);
    rig.check(*client, "{}");
    EXPECT_FALSE(nlohmann::json::parse(rig.server.received().back().body).contains("m"));
  }
}

// Each answer after a fresh client whose shown list holds 9: ticket open, and pending id after.
TEST_F(ServerCheckTest, Answer_SetsTicketAndOfferOnlyWhenWellFormedWhateverTheStatus) {
  const std::tuple<int, std::string, bool, std::int64_t> answers[] = {
      {200, MessageClientRig::offer("open", 5, "Hello"), true, 5},
      {500, MessageClientRig::offer("open", 5, "Hello"), true, 5},
      {200, MessageClientRig::offer("open", 9, "Seen before"), true, 0},
      {200, MessageClientRig::offer("waiting", -4, "x"), false, 0},
      {200, MessageClientRig::offer("resolved", 6, ""), false, 0},
      {200, R"({"mid":5,"msg":"Hello"})", false, 0},
      {200, R"({"tk":"open","mid":"5","msg":"Hello"})", false, 0},
      {200, R"({"tk":"open","mid":5,"msg":null})", false, 0},
      {200, R"({"tk":"open","mid":18446744073709551615,"msg":"Hello"})", false, 0},
      {200, R"([{"tk":"open","mid":5,"msg":"Hello"}])", false, 0},
      {200, R"({"tk":"open","mid":5,"msg":"Hel)", false, 0}};
  rig.store->set(ShownMessages::listKey, SettingsValue::Array{std::int64_t{9}});
  for (const auto& [status, body, open, pending] : answers) {
    auto fresh = rig.makeClient();
    rig.check(*fresh, body, status);
    EXPECT_EQ(fresh->ticketOpen(), open) << body;
    EXPECT_EQ(fresh->pendingMessage() ? fresh->pendingMessage()->id : 0, pending) << body;
  }
  bool completed = false;
  const auto unreachable = rig.makeClient("http://127.0.0.1:1/check");
  unreachable->checkWithServer([&] { completed = true; });
  rig.dispatcher.drainAll();
  EXPECT_TRUE(completed) << "an unreachable server still completes the check";
}

TEST_F(ServerCheckTest, Answer_MessageIsKeptAsShownWithoutNulAndCutAt16KiB) {
  const std::string withNul = std::string("before") + '\0' + "after";
  const std::string huge = "\xC3\xA9" + std::string(400 * 1024, 'x');
  std::int64_t id = 70;
  for (const auto& [offered, kept] : {std::pair{withNul, std::string("beforeafter")},
                                      std::pair{huge, huge.substr(0, maxMessageBytes)},
                                      std::pair{std::string(maxMessageBytes - 1, 'y') + "\xC3\xA9",
                                                std::string(maxMessageBytes - 1, 'y')}}) {
    rig.check(*client, MessageClientRig::offer("open", ++id, offered));
    ASSERT_TRUE(client->pendingMessage());
    EXPECT_EQ(client->pendingMessage()->body, kept);
    client->markMessageShown();
    SettingsStore reopened(rig.folder / "defaults.plist");
    EXPECT_EQ(MessageHistory(reopened).entries(rig.clock).front().body, kept) << "stored as shown";
  }
}

TEST_F(ServerCheckTest, MarkShown_KeepsTheLast50IdsAndAnOfferIsTakenUntilShownOnTheMainQueue) {
  rig.store->set(ShownMessages::listKey, SettingsValue::Array{SettingsValue("unusable")});
  client->markMessageShown(); // nothing pending: nothing written
  for (std::int64_t id = 1; id <= 51; ++id) {
    client->markMessageShown({id, "m"});
  }
  const std::vector<std::int64_t> ids = ShownMessages::read(*rig.store);
  EXPECT_TRUE(ids.size() == 50u && ids.front() == 2);
  EXPECT_EQ(rig.store->object(ShownMessages::acknowledgedKey), SettingsValue(std::int64_t{51}));
  rig.server.answer(200, MessageClientRig::offer("open", 1, "dropped out of the list"));
  client->checkWithServer();
  rig.dispatcher.drainBackground();
  EXPECT_FALSE(client->pendingMessage()) << "applied on the main queue only";
  rig.dispatcher.drainMain();
  ASSERT_TRUE(client->pendingMessage());
  rig.check(*client, MessageClientRig::offer("open", 52, "Later"));
  client->markMessageShown();
  EXPECT_EQ(ShownMessages::read(*rig.store).back(), 52) << "the later offer replaced the unseen";
  rig.check(*client, MessageClientRig::offer("open", 1, "again"));
  EXPECT_EQ(client->pendingMessage().value_or(SupportClient::PendingMessage{}).id, 1);
}

// Old or damaged history: bad values read empty, odd entries hidden in place, 50 kept at most.
TEST_F(ServerCheckTest, History_ReadsWhatAFileHoldsAndKeepsTheNewest50) {
  using Dictionary = SettingsValue::Dictionary;
  for (const SettingsValue& value :
       {SettingsValue("not a list"),
        SettingsValue(SettingsValue::Array{Dictionary{{"id", std::int64_t{1}}, {"body", "ok"}},
                                           SettingsValue(3)})}) {
    rig.store->set(MessageHistory::key, value);
    EXPECT_TRUE(client->messageHistory().empty());
  }
  rig.store->set(MessageHistory::key,
                 SettingsValue::Array{
                     Dictionary{{"body", "no id"}}, Dictionary{{"id", 2.0}, {"body", "real id"}},
                     Dictionary{{"id", std::int64_t{7}}, {"body", std::int64_t{7}}},
                     Dictionary{{"id", std::int64_t{4}}, {"body", "a"}, {"date", "2026"}},
                     Dictionary{{"id", std::int64_t{-2}}, {"body", "b"}, {"mine", 1}}});
  auto history = client->messageHistory();
  ASSERT_EQ(history.size(), 2u);
  EXPECT_FALSE(history[0].mine);
  EXPECT_EQ(history[1].date, rig.clock) << "a text date reads as the time of reading";
  MessageHistory growing(*rig.store);
  growing.archive(4, "again", rig.clock); // archived once per maker id
  growing.archiveOwn("one", rig.clock);
  growing.archiveOwn("two", rig.clock); // the same second: the same negative id, both kept
  history = client->messageHistory();
  ASSERT_EQ(history.size(), 4u);
  EXPECT_EQ(history[0].id, history[1].id);
  EXPECT_TRUE(history[0].mine && history[0].id < 0);
  for (int id = 1; id <= 46; ++id) {
    growing.archive(100 + id, "m", rig.clock);
  }
  EXPECT_EQ(rig.store->object(MessageHistory::key)->as<SettingsValue::Array>()->size(), 50u);
  EXPECT_EQ(client->messageHistory().back().body, "a") << "the oldest hidden entries go first";
}

} // namespace
