#include "core/support/server_check.h"

#include <cctype>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/support/support_client.h"
#include "tests/core/support/message_client_rig.h"

namespace {

using namespace std::chrono_literals;

class ServerCheckTest : public ::testing::Test {
 protected:
  std::vector<std::int64_t> shownIds() const { return ShownMessages::read(*rig.store); }

  MessageClientRig rig;
  std::unique_ptr<SupportClient> client = rig.makeClient();
};

// The request.
TEST_F(ServerCheckTest, Body_GoesToTheCheckAddressWithAFreshNonceAndTheShownMessageIdOnceThere) {
  rig.check(*client, MessageClientRig::offer("open", 41, "We fixed it"));
  EXPECT_EQ(rig.server.received().at(0).path, "/eject/v1/check");
  nlohmann::json body = rig.lastBody();
  EXPECT_EQ(keysOf(body), (std::set<std::string>{"n", "d", "v", "os", "c"}));
  EXPECT_EQ(body["c"], "direct");
  EXPECT_EQ(body["v"], "1.4.2");
  EXPECT_EQ(body["os"], "Debian GNU/Linux 12");
  EXPECT_EQ(body["d"], client->deviceId());
  client->markMessageShown();
  rig.check(*client, MessageClientRig::offer("open", 0, ""));
  body = rig.lastBody();
  EXPECT_EQ(keysOf(body), (std::set<std::string>{"n", "d", "v", "os", "c", "m"}));
  EXPECT_EQ(body["m"], 41);
  EXPECT_TRUE(body["m"].is_number_integer());

  // The nonce is fresh upper-case hex for every request.
  std::set<std::string> nonces;
  for (const auto& received : rig.server.received()) {
    const std::string nonce = nlohmann::json::parse(received.body)["n"];
    EXPECT_EQ(nonce.size(), 32u);
    for (const char character : nonce) {
      EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(character)) ||
                  (character >= 'A' && character <= 'F'))
          << nonce;
    }
    nonces.insert(nonce);
  }
  EXPECT_EQ(nonces.size(), 2u);
}

TEST_F(ServerCheckTest, Body_LeavesOutAnAcknowledgementThatIsNotAPositiveInteger) {
  const SettingsValue stored[] = {SettingsValue("7"), SettingsValue(0), SettingsValue(-3),
                                  SettingsValue(7.0), SettingsValue(true)};
  for (const SettingsValue& value : stored) {
    rig.store->set(ShownMessages::acknowledgedKey, value);
    EXPECT_FALSE(client->checkBody().contains("m"));
  }
}

// The answer.
TEST_F(ServerCheckTest, Answer_IsAppliedOnTheMainQueueOnlyThenTheCompletionRuns) {
  rig.server.answer(200, MessageClientRig::offer("open", 5, "Hello"));
  bool completed = false;
  client->checkWithServer([&] {
    completed = true;
    EXPECT_EQ(client->ticketState, "open");
  });
  rig.dispatcher.drainBackground();
  EXPECT_EQ(client->ticketState, "none");
  EXPECT_FALSE(client->pendingMessage);
  EXPECT_FALSE(completed);
  rig.dispatcher.drainMain();
  EXPECT_TRUE(completed);
  ASSERT_TRUE(client->pendingMessage);
  EXPECT_EQ(client->pendingMessage->id, 5);
  EXPECT_EQ(client->pendingMessage->body, "Hello");
}

TEST_F(ServerCheckTest, Answer_WithoutANewOfferSetsOnlyTheTicketStateWhateverTheStatus) {
  rig.store->set(ShownMessages::listKey, SettingsValue::Array{std::int64_t{3}, std::int64_t{9}});
  rig.check(*client, MessageClientRig::offer("open", 9, "Seen before"));
  EXPECT_EQ(client->ticketState, "open");
  EXPECT_FALSE(client->pendingMessage);

  // An answer with status 500 but a usable body is applied all the same.
  rig.check(*client, MessageClientRig::offer("open", 5, "Pending"), 500);
  ASSERT_TRUE(client->pendingMessage);
  EXPECT_EQ(client->pendingMessage->id, 5);
  for (const std::string& answer :
       {MessageClientRig::offer("closed", 0, "text"), MessageClientRig::offer("waiting", -4, "x"),
        MessageClientRig::offer("resolved", 6, "")}) {
    rig.check(*client, answer);
    EXPECT_NE(client->ticketState, "open") << answer;
    ASSERT_TRUE(client->pendingMessage) << answer;
    EXPECT_EQ(client->pendingMessage->id, 5) << answer;
  }
}

TEST_F(ServerCheckTest, Answer_LackingAFieldOrOfTheWrongShapeChangesNothing) {
  const std::string answers[] = {
      R"({"mid":5,"msg":"Hello"})",
      R"({"tk":"open","msg":"Hello"})",
      R"({"tk":"open","mid":5})",
      R"({"tk":1,"mid":5,"msg":"Hello"})",
      R"({"tk":"open","mid":"5","msg":"Hello"})",
      R"({"tk":"open","mid":5.5,"msg":"Hello"})",
      R"({"tk":"open","mid":5,"msg":null})",
      R"({"tk":"open","mid":18446744073709551615,"msg":"Hello"})",
      R"([{"tk":"open","mid":5,"msg":"Hello"}])",
      "not json",
      "",
  };
  for (const std::string& answer : answers) {
    rig.check(*client, answer);
    EXPECT_EQ(client->ticketState, "none") << answer;
    EXPECT_FALSE(client->pendingMessage) << answer;
  }
}

TEST_F(ServerCheckTest, Answer_TwoOffersBeforeEitherIsSeenLeaveOnlyTheLaterPending) {
  rig.check(*client, MessageClientRig::offer("open", 20, "Earlier"));
  rig.check(*client, MessageClientRig::offer("open", 21, "Later"));
  ASSERT_TRUE(client->pendingMessage);
  EXPECT_EQ(client->pendingMessage->id, 21);
  client->markMessageShown();
  EXPECT_EQ(shownIds(), std::vector<std::int64_t>{21});
  ASSERT_EQ(client->messageHistory().size(), 1u);
  EXPECT_EQ(client->messageHistory()[0].body, "Later");

  // The earlier one was never seen, so it is taken when offered again.
  rig.check(*client, MessageClientRig::offer("open", 20, "Earlier"));
  ASSERT_TRUE(client->pendingMessage);
  EXPECT_EQ(client->pendingMessage->id, 20);
}

TEST_F(ServerCheckTest, Answer_NoneAtAllChangesNothingAndWithoutADispatcherRunsInline) {
  auto unreachable = rig.makeClient("http://127.0.0.1:1/eject/v1/check");
  unreachable->ticketState = "open";
  bool completed = false;
  unreachable->checkWithServer([&] { completed = true; });
  rig.dispatcher.drainAll();
  EXPECT_TRUE(completed);
  EXPECT_EQ(unreachable->ticketState, "open");
  EXPECT_FALSE(unreachable->pendingMessage);
  client->setDispatcher(nullptr);
  rig.server.answer(200, MessageClientRig::offer("open", 2, "Inline"));
  completed = false;
  client->checkWithServer([&] { completed = true; });
  EXPECT_TRUE(completed);
  EXPECT_EQ(client->ticketState, "open");
}

// Marking shown.
TEST_F(ServerCheckTest,
       MarkShown_RecordsInACleanListAcknowledgesArchivesAndClearsOnlyAPendingMessage) {
  client->markMessageShown(); // nothing pending: nothing written
  EXPECT_FALSE(rig.store->object(ShownMessages::listKey));
  EXPECT_FALSE(rig.store->object(ShownMessages::acknowledgedKey));
  EXPECT_TRUE(client->messageHistory().empty());
  // An unusable shown list hides nothing and is replaced by a clean one.
  rig.store->set(ShownMessages::listKey,
                 SettingsValue::Array{std::int64_t{30}, SettingsValue("thirty-one")});
  rig.check(*client, MessageClientRig::offer("open", 30, "Your fix is ready"));
  client->markMessageShown();
  EXPECT_FALSE(client->pendingMessage);
  EXPECT_EQ(shownIds(), std::vector<std::int64_t>{30});
  EXPECT_EQ(rig.store->object(ShownMessages::acknowledgedKey), SettingsValue(std::int64_t{30}));
  const auto history = client->messageHistory();
  ASSERT_EQ(history.size(), 1u);
  EXPECT_EQ(history[0].id, 30);
  EXPECT_EQ(history[0].body, "Your fix is ready");
  EXPECT_FALSE(history[0].mine);
}

TEST_F(ServerCheckTest, MarkShown_The51stIdDropsTheOldestWhichIsThenTakenAgainOnlyOnce) {
  for (std::int64_t id = 1; id <= 51; ++id) {
    client->pendingMessage = SupportClient::PendingMessage{id, "m"};
    client->markMessageShown();
  }
  const std::vector<std::int64_t> ids = shownIds();
  ASSERT_EQ(ids.size(), 50u);
  EXPECT_EQ(ids.front(), 2);
  EXPECT_EQ(ids.back(), 51);
  EXPECT_EQ(client->messageHistory().size(), 50u);

  // 1 has dropped out of the shown list, so the server's offer is taken again.
  rig.check(*client, MessageClientRig::offer("open", 1, "second time"));
  ASSERT_TRUE(client->pendingMessage);
  client->markMessageShown();
  int entriesForOne = 0;
  for (const ArchivedMessage& message : client->messageHistory()) {
    entriesForOne += message.id == 1 ? 1 : 0;
  }
  EXPECT_EQ(entriesForOne, 1);
  EXPECT_EQ(shownIds().back(), 1);
}

} // namespace
