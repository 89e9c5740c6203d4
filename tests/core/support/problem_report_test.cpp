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
  for (const int status : {200, 201, 500}) {
    for (const char* body : {R"({"ok":true})", R"({"ok":1})", R"({"ok":true,"ticket":"T-1"})"}) {
      rig.server.answer(status, body);
      EXPECT_EQ(client->reportProblem("text", std::nullopt), status == 200) << status << body;
    }
  }
  for (const char* body : {R"({"ok":"true"})", R"({"ok":false})", R"({"ok":0})", R"({"ok":2})",
                           R"({"ok":null})", R"({})", R"([true])", "ok", ""}) {
    rig.server.answer(200, body);
    EXPECT_FALSE(client->reportProblem("text", std::nullopt)) << body;
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
