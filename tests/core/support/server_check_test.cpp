#include "core/support/server_check.h"

#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/support/support_client.h"
#include "tests/core/support/message_client_rig.h"

namespace {

class ServerCheckTest : public ::testing::Test {
 protected:
  MessageClientRig rig;
  std::unique_ptr<SupportClient> client = rig.makeClient();
};

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
    EXPECT_FALSE(client->checkBody().contains("m"));
  }
}

// Each answer after a fresh client whose shown list holds 9: ticket state and pending id after.
TEST_F(ServerCheckTest, Answer_SetsTicketAndOfferOnlyWhenWellFormedWhateverTheStatus) {
  const std::tuple<int, std::string, std::string, std::int64_t> answers[] = {
      {200, MessageClientRig::offer("open", 5, "Hello"), "open", 5},
      {500, MessageClientRig::offer("open", 5, "Hello"), "open", 5},
      {200, MessageClientRig::offer("open", 9, "Seen before"), "open", 0},
      {200, MessageClientRig::offer("waiting", -4, "x"), "waiting", 0},
      {200, MessageClientRig::offer("resolved", 6, ""), "resolved", 0},
      {200, R"({"mid":5,"msg":"Hello"})", "none", 0},
      {200, R"({"tk":"open","mid":"5","msg":"Hello"})", "none", 0},
      {200, R"({"tk":"open","mid":5,"msg":null})", "none", 0},
      {200, R"({"tk":"open","mid":18446744073709551615,"msg":"Hello"})", "none", 0},
      {200, R"([{"tk":"open","mid":5,"msg":"Hello"}])", "none", 0},
      {200, R"({"tk":"open","mid":5,"msg":"Hel)", "none", 0},
      {200, "", "none", 0}};
  rig.store->set(ShownMessages::listKey, SettingsValue::Array{std::int64_t{9}});
  for (const auto& [status, body, ticket, pending] : answers) {
    auto fresh = rig.makeClient();
    rig.check(*fresh, body, status);
    EXPECT_EQ(fresh->ticketState, ticket) << body;
    EXPECT_EQ(fresh->pendingMessage ? fresh->pendingMessage->id : 0, pending) << body;
  }
  bool completed = false;
  rig.makeClient("http://127.0.0.1:1/check")->checkWithServer([&] { completed = true; });
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
    ASSERT_TRUE(client->pendingMessage);
    EXPECT_EQ(client->pendingMessage->body, kept);
    client->markMessageShown();
    SettingsStore reopened(rig.folder / "defaults.plist");
    EXPECT_EQ(MessageHistory(reopened).entries(rig.clock).front().body, kept) << "stored as shown";
  }
}

TEST_F(ServerCheckTest, MarkShown_KeepsTheLast50IdsAndAnOfferIsTakenUntilShownOnTheMainQueue) {
  rig.store->set(ShownMessages::listKey, SettingsValue::Array{SettingsValue("unusable")});
  client->markMessageShown(); // nothing pending: nothing written
  for (std::int64_t id = 1; id <= 51; ++id) {
    client->pendingMessage = SupportClient::PendingMessage{id, "m"};
    client->markMessageShown();
  }
  const std::vector<std::int64_t> ids = ShownMessages::read(*rig.store);
  EXPECT_TRUE(ids.size() == 50u && ids.front() == 2);
  EXPECT_EQ(rig.store->object(ShownMessages::acknowledgedKey), SettingsValue(std::int64_t{51}));
  rig.server.answer(200, MessageClientRig::offer("open", 1, "dropped out of the list"));
  client->checkWithServer();
  rig.dispatcher.drainBackground();
  EXPECT_FALSE(client->pendingMessage) << "applied on the main queue only";
  rig.dispatcher.drainMain();
  ASSERT_TRUE(client->pendingMessage);
  rig.check(*client, MessageClientRig::offer("open", 52, "Later"));
  client->markMessageShown();
  EXPECT_EQ(ShownMessages::read(*rig.store).back(), 52) << "the later offer replaced the unseen";
  rig.check(*client, MessageClientRig::offer("open", 1, "again"));
  EXPECT_EQ(client->pendingMessage.value_or(SupportClient::PendingMessage{}).id, 1);
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
  client->archive(4, "again"); // archived once per maker id
  client->archiveOwn("one");
  client->archiveOwn("two"); // the same second: the same negative id, both kept
  history = client->messageHistory();
  ASSERT_EQ(history.size(), 4u);
  EXPECT_EQ(history[0].id, history[1].id);
  EXPECT_TRUE(history[0].mine && history[0].id < 0);
  for (int id = 1; id <= 46; ++id) {
    client->archive(100 + id, "m");
  }
  EXPECT_EQ(rig.store->object(MessageHistory::key)->as<SettingsValue::Array>()->size(), 50u);
  EXPECT_EQ(client->messageHistory().back().body, "a") << "the oldest hidden entries go first";
}

} // namespace
