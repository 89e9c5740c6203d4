#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/support/support_client.h"
#include "tests/core/support/message_client_rig.h"

namespace {

class ProblemReportTest : public ::testing::Test {
 protected:
  MessageClientRig rig;
  std::unique_ptr<SupportClient> client = rig.makeClient();
};

TEST_F(ProblemReportTest, Body_CarriesIdentityTextAndTheAddressToTheReportAddress) {
  rig.server.answer(200, R"({"ok":true})");
  EXPECT_TRUE(client->reportProblem("It froze\nafter ejecting", "me@example.org"));
  ASSERT_EQ(rig.server.received().size(), 1u);
  EXPECT_EQ(rig.server.received()[0].path, "/eject/v1/report");
  const nlohmann::json body = rig.lastBody();
  EXPECT_EQ(keysOf(body), (std::set<std::string>{"d", "v", "os", "text", "email"}));
  EXPECT_EQ(body["text"], "It froze\nafter ejecting");
  EXPECT_EQ(body["email"], "me@example.org");
  EXPECT_EQ(body["d"], client->deviceId());
}

TEST_F(ProblemReportTest, Body_ANoneOrEmptyAddressIsLeftOutAndSpacesAreSentAsTyped) {
  rig.server.answer(200, R"({"ok":true})");
  EXPECT_TRUE(client->reportProblem("Thanks, that worked", std::nullopt));
  EXPECT_EQ(keysOf(rig.lastBody()), (std::set<std::string>{"d", "v", "os", "text"}));
  client->reportProblem("one", std::string());
  EXPECT_EQ(keysOf(rig.lastBody()), (std::set<std::string>{"d", "v", "os", "text"}));
  client->reportProblem("two", std::string("   "));
  EXPECT_EQ(rig.lastBody()["email"], "   ");
}

TEST_F(ProblemReportTest, Answer_OnlyStatus200WithOkReadingTrueIsASuccess) {
  struct Case {
    int status;
    std::string body;
    bool accepted;
  };
  const Case cases[] = {
      {200, R"({"ok":true})", true},
      {200, R"({"ok":1})", true},
      {200, R"({"ok":true,"ticket":"T-1"})", true},
      {201, R"({"ok":true})", false},
      {500, R"({"ok":true})", false},
      {200, R"({"ok":"true"})", false},
      {200, R"({"ok":false})", false},
      {200, R"({"ok":0})", false},
      {200, R"({"ok":2})", false},
      {200, R"({"ok":null})", false},
      {200, R"({})", false},
      {200, R"([true])", false},
      {200, "ok", false},
      {200, "", false},
  };
  for (const Case& each : cases) {
    rig.server.answer(each.status, each.body);
    EXPECT_EQ(client->reportProblem("text", std::nullopt), each.accepted)
        << each.status << " " << each.body;
  }
}

TEST_F(ProblemReportTest, Answer_NoServerIsAFailure) {
  EXPECT_FALSE(
      rig.makeClient({}, "http://127.0.0.1:1/report")->reportProblem("text", std::nullopt));
}

TEST_F(ProblemReportTest, Async_EachReportIsItsOwnTaskAndAnswersOnTheMainQueue) {
  rig.server.answer(200, R"({"ok":true})");
  std::vector<bool> results;
  client->reportProblem("first", std::nullopt, [&](bool accepted) { results.push_back(accepted); });
  client->reportProblem("second", "a@b.c", [&](bool accepted) { results.push_back(accepted); });
  EXPECT_EQ(rig.dispatcher.pendingBackground(), 2u);
  rig.dispatcher.drainBackground();
  EXPECT_TRUE(results.empty());
  EXPECT_EQ(rig.server.received().size(), 2u);
  rig.dispatcher.drainMain();
  EXPECT_EQ(results, (std::vector<bool>{true, true}));
}

} // namespace
