#include "core/support/support_client.h"

#include <cctype>
#include <set>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/core/support/message_client_rig.h"

namespace {

using namespace std::chrono_literals;

// Whether the JSON text has no white space between its tokens.
bool isCompact(const std::string& text) {
  bool inString = false;
  for (std::size_t index = 0; index < text.size(); ++index) {
    const char character = text[index];
    if (inString) {
      if (character == '\\') {
        ++index;
      } else if (character == '"') {
        inString = false;
      }
    } else if (character == '"') {
      inString = true;
    } else if (character == ' ' || character == '\n' || character == '\t' || character == '\r') {
      return false;
    }
  }
  return true;
}

class SupportClientTest : public ::testing::Test {
 protected:
  // Sends the identity fields and one more key to the check URL.
  SupportAnswer sendCheck(SupportClient& sender) {
    nlohmann::json body = sender.identityFields();
    body["c"] = "direct";
    return sender.send(sender.checkURL(), body, sender.checkTimeout());
  }

  MessageClientRig rig;
  std::unique_ptr<SupportClient> client = rig.makeClient();
};

TEST_F(SupportClientTest, Send_PostsCompactBodiesWithTheGivenKeysAndOneDeviceIdButNoHeaders) {
  rig.server.answer(200, R"({"tk":"none"})");
  ASSERT_TRUE(sendCheck(*client).transferred);
  nlohmann::json large = client->identityFields();
  large["text"] = std::string(3 * 1024 * 1024, 'x');
  ASSERT_TRUE(client->send(client->reportURL(), large, client->reportTimeout()).transferred);
  rig.version = "";
  auto later = rig.makeClient();
  ASSERT_TRUE(sendCheck(*later).transferred);

  const auto requests = rig.server.received();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].path, "/eject/v1/check");
  EXPECT_EQ(requests[1].path, "/eject/v1/report");
  const auto body = nlohmann::json::parse(requests[0].body);
  EXPECT_EQ(keysOf(body), (std::set<std::string>{"d", "v", "os", "c"}));
  EXPECT_EQ(body["v"], "1.4.2");
  EXPECT_EQ(body["os"], "Debian GNU/Linux 12");
  EXPECT_EQ(body["c"], "direct");
  const std::string id = body["d"];
  EXPECT_EQ(id.size(), 36u);
  EXPECT_EQ(rig.store->string("VEDeviceId"), id);
  for (const auto& request : requests) {
    EXPECT_TRUE(isCompact(request.body)) << request.path;
    EXPECT_FALSE(request.hasHeader("Content-Type")) << request.path;
    EXPECT_FALSE(request.hasHeader("Expect")) << request.path;
    EXPECT_EQ(nlohmann::json::parse(request.body)["d"], id) << "across calls and clients";
  }
  EXPECT_EQ(nlohmann::json::parse(requests[2].body)["v"], "?");
}

TEST_F(SupportClientTest, Send_GivesUpOnASilentServerAndFailsWhenNothingListens) {
  rig.server.setSilent(true);
  const SupportAnswer answer = client->send(client->checkURL(), client->identityFields(), 300ms);
  EXPECT_FALSE(answer.transferred);
  EXPECT_FALSE(answer.object);
  rig.server.setSilent(false);
  EXPECT_FALSE(
      client->send("http://127.0.0.1:1/eject/v1/check", client->identityFields(), 2s).transferred);
}

TEST_F(SupportClientTest, Send_ReadsAnObjectAnswerWhateverTheStatusButNotOneOverTheSizeLimit) {
  rig.server.answer(500, R"({"tk":"open","mid":3,"msg":"Hello"})");
  const SupportAnswer answer = sendCheck(*client);
  ASSERT_TRUE(answer.transferred);
  EXPECT_EQ(answer.status, 500);
  ASSERT_TRUE(answer.object);
  EXPECT_EQ((*answer.object)["tk"], "open");
  rig.server.answer(200, R"({"pad":")" + std::string(HttpTransport::maxAnswerBytes, 'a') + R"("})");
  EXPECT_FALSE(sendCheck(*client).object);
}

TEST(SupportClientAnswer, OnlyATopLevelObjectIsUsableAndDeepNestingIsNoCrash) {
  EXPECT_TRUE(SupportClient::answerObject(R"({"ok":true})"));
  EXPECT_TRUE(SupportClient::answerObject(R"(  {} )"));
  for (const std::string body : {"", " ", "[1,2]", "\"text\"", "42", "true", "null", R"({"ok":tr)",
                                 "<html></html>", "{\"a\":\"\xff\"}", R"({"a":1} trailing)"}) {
    EXPECT_FALSE(SupportClient::answerObject(body)) << body;
  }
  const std::string nested = std::string(50000, '[') + std::string(50000, ']');
  EXPECT_FALSE(SupportClient::answerObject(nested));
  EXPECT_TRUE(SupportClient::answerObject(R"({"a":)" + nested + "}"));
}

TEST(SupportClientBody, IsCompactAndReplacesTextThatIsNotUtf8) {
  const std::string body =
      SupportClient::encodeBody({{"text", "a b\nc"}, {"bad", "x\xffy"}, {"n", 3}});
  EXPECT_TRUE(isCompact(body)) << body;
  const auto parsed = nlohmann::json::parse(body);
  EXPECT_EQ(parsed["text"], "a b\nc");
  EXPECT_EQ(parsed["bad"], "x\xEF\xBF\xBDy");
}

TEST_F(SupportClientTest, DeviceId_FirstCallStoresANewUpperCaseIdentifierLaterOnesOnlyReadIt) {
  EXPECT_FALSE(client->pendingMessage);
  EXPECT_EQ(client->ticketState, "none");
  const std::string id = client->deviceId();
  ASSERT_EQ(id.size(), 36u);
  for (std::size_t index = 0; index < id.size(); ++index) {
    const bool hyphen = index == 8 || index == 13 || index == 18 || index == 23;
    EXPECT_TRUE(hyphen ? id[index] == '-' : std::isxdigit(id[index]) && !std::islower(id[index]))
        << id;
  }
  EXPECT_EQ(id[14], '4') << "a random (version 4) identifier";
  EXPECT_EQ(rig.store->string("VEDeviceId"), id);
  EXPECT_EQ(SettingsStore(rig.folder / "defaults.plist").string("VEDeviceId"), id);
  const auto written = std::filesystem::last_write_time(rig.folder / "defaults.plist");
  EXPECT_EQ(client->deviceId(), id);
  EXPECT_EQ(std::filesystem::last_write_time(rig.folder / "defaults.plist"), written);
}

TEST_F(SupportClientTest, DeviceId_AStoredIdentifierOfAnyFormIsUsedUnchanged) {
  rig.store->set("VEDeviceId", "not-a-uuid, lower case");
  auto fresh = rig.makeClient();
  EXPECT_EQ(fresh->deviceId(), "not-a-uuid, lower case");
  EXPECT_EQ(fresh->identityFields()["d"], "not-a-uuid, lower case");
}

TEST_F(SupportClientTest, DeviceId_SimultaneousFirstCallsAgreeOnOneIdentifier) {
  auto second = rig.makeClient();
  std::vector<std::string> ids(8);
  std::vector<std::thread> threads;
  for (std::size_t index = 0; index < ids.size(); ++index) {
    threads.emplace_back(
        [&, index] { ids[index] = (index % 2 == 0 ? *client : *second).deviceId(); });
  }
  for (auto& thread : threads) {
    thread.join();
  }
  for (const auto& id : ids) {
    EXPECT_EQ(id, ids.front());
  }
  EXPECT_EQ(rig.store->string("VEDeviceId"), ids.front());
}

} // namespace
