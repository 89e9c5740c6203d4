#include "core/support/support_client.h"

#include <algorithm>
#include <cctype>
#include <set>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "core/settings_store.h"
#include "platform/linux/curl_http_transport.h"
#include "tests/support/loopback_http_server.h"
#include "tests/support/temporary_folder.h"

namespace {

using namespace std::chrono_literals;

std::set<std::string> keysOf(const nlohmann::json& object) {
  std::set<std::string> keys;
  for (const auto& [key, value] : object.items()) {
    keys.insert(key);
  }
  return keys;
}

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
  SupportClient makeClient(std::string version = "1.4.2") {
    return SupportClient(SupportClient::Setup{.transport = transport,
                                              .defaults = store,
                                              .checkURL = server.url("/eject/v1/check"),
                                              .reportURL = server.url("/eject/v1/report"),
                                              .version = std::move(version),
                                              .osString = [] { return "Debian GNU/Linux 12"; },
                                              .checkTimeout = 2s,
                                              .reportTimeout = 2s});
  }

  // Sends the identity fields and one more key to the check URL.
  SupportAnswer sendCheck(SupportClient& client) {
    nlohmann::json body = client.identityFields();
    body["c"] = "direct";
    return client.send(client.checkURL(), body, client.checkTimeout());
  }

  TemporaryFolder folder;
  SettingsStore store{folder / "defaults.plist"};
  LoopbackHttpServer server;
  CurlHttpTransport transport;
};

TEST_F(SupportClientTest, Send_PostsCompactBodyWithExactlyTheGivenKeysToTheEndpointPath) {
  SupportClient client = makeClient();
  server.answer(200, R"({"tk":"none"})");

  const SupportAnswer answer = sendCheck(client);

  ASSERT_TRUE(answer.transferred);
  ASSERT_EQ(server.received().size(), 1u);
  const auto request = server.received().front();
  EXPECT_EQ(request.method, "POST");
  EXPECT_EQ(request.path, "/eject/v1/check");
  EXPECT_TRUE(isCompact(request.body)) << request.body;
  const auto body = nlohmann::json::parse(request.body);
  EXPECT_EQ(keysOf(body), (std::set<std::string>{"d", "v", "os", "c"}));
  EXPECT_EQ(body["v"], "1.4.2");
  EXPECT_EQ(body["os"], "Debian GNU/Linux 12");
  EXPECT_EQ(body["c"], "direct");
}

TEST_F(SupportClientTest, Send_CarriesNoContentTypeAndNoExpectHeaderEvenForALargeBody) {
  SupportClient client = makeClient();
  nlohmann::json body = client.identityFields();
  body["text"] = std::string(3 * 1024 * 1024, 'x');

  ASSERT_TRUE(client.send(client.reportURL(), body, client.reportTimeout()).transferred);
  ASSERT_TRUE(sendCheck(client).transferred);

  for (const auto& request : server.received()) {
    EXPECT_FALSE(request.hasHeader("Content-Type")) << request.path;
    EXPECT_FALSE(request.hasHeader("Expect")) << request.path;
  }
}

TEST_F(SupportClientTest, Send_KeepsTheDeviceIdentifierAcrossCallsAndClients) {
  SupportClient client = makeClient();
  ASSERT_TRUE(sendCheck(client).transferred);
  ASSERT_TRUE(sendCheck(client).transferred);
  SupportClient later = makeClient();
  ASSERT_TRUE(sendCheck(later).transferred);

  const auto requests = server.received();
  ASSERT_EQ(requests.size(), 3u);
  const std::string first = nlohmann::json::parse(requests[0].body)["d"];
  EXPECT_EQ(first.size(), 36u);
  for (const auto& request : requests) {
    EXPECT_EQ(nlohmann::json::parse(request.body)["d"], first);
  }
  EXPECT_EQ(store.string("VEDeviceId"), first);
}

TEST_F(SupportClientTest, Send_SaysQuestionMarkForTheVersionWhenTheBuildHasNone) {
  SupportClient client = makeClient("");

  ASSERT_TRUE(sendCheck(client).transferred);

  EXPECT_EQ(nlohmann::json::parse(server.received().front().body)["v"], "?");
}

TEST_F(SupportClientTest, Send_GivesUpOnAServerThatNeverAnswers) {
  SupportClient client = makeClient();
  server.setSilent(true);

  const SupportAnswer answer = client.send(client.checkURL(), client.identityFields(), 300ms);

  EXPECT_FALSE(answer.transferred);
  EXPECT_FALSE(answer.object);
  server.setSilent(false);
}

TEST_F(SupportClientTest, Send_FailsAsATransferErrorWhenNothingListens) {
  SupportClient client = makeClient();
  const std::string closed = "http://127.0.0.1:1/eject/v1/check";

  EXPECT_FALSE(client.send(closed, client.identityFields(), 2s).transferred);
}

TEST_F(SupportClientTest, Send_ReadsAnObjectAnswerWhateverTheStatus) {
  SupportClient client = makeClient();
  server.answer(500, R"({"tk":"open","mid":3,"msg":"Hello"})");

  const SupportAnswer answer = sendCheck(client);

  ASSERT_TRUE(answer.transferred);
  EXPECT_EQ(answer.status, 500);
  ASSERT_TRUE(answer.object);
  EXPECT_EQ((*answer.object)["tk"], "open");
}

TEST_F(SupportClientTest, Send_TreatsAnAnswerOverTheSizeLimitAsUnusable) {
  SupportClient client = makeClient();
  server.answer(200, R"({"pad":")" + std::string(HttpTransport::maxAnswerBytes, 'a') + R"("})");

  const SupportAnswer answer = sendCheck(client);

  EXPECT_FALSE(answer.object);
}

TEST(SupportClientAnswer, OnlyATopLevelObjectIsUsable) {
  EXPECT_TRUE(SupportClient::answerObject(R"({"ok":true})"));
  EXPECT_TRUE(SupportClient::answerObject(R"(  {} )"));
  for (const std::string body : {"", " ", "[1,2]", "\"text\"", "42", "true", "null", R"({"ok":tr)",
                                 "<html></html>", "{\"a\":\"\xff\"}", R"({"a":1} trailing)"}) {
    EXPECT_FALSE(SupportClient::answerObject(body)) << body;
  }
}

TEST(SupportClientAnswer, DeeplyNestedTextIsUnusableNotACrash) {
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

class DeviceIdentityTest : public ::testing::Test {
 protected:
  SupportClient makeClient(SettingsStore& defaults) {
    return SupportClient(SupportClient::Setup{.transport = transport,
                                              .defaults = defaults,
                                              .checkURL = "http://127.0.0.1:1/check",
                                              .reportURL = "http://127.0.0.1:1/report",
                                              .version = "1.0",
                                              .osString = {}});
  }

  TemporaryFolder folder;
  SettingsStore store{folder / "defaults.plist"};
  CurlHttpTransport transport;
};

TEST_F(DeviceIdentityTest, FirstCallStoresANewUpperCaseIdentifier) {
  SupportClient client = makeClient(store);

  const std::string id = client.deviceId();

  ASSERT_EQ(id.size(), 36u);
  for (std::size_t index = 0; index < id.size(); ++index) {
    const bool hyphen = index == 8 || index == 13 || index == 18 || index == 23;
    EXPECT_TRUE(hyphen ? id[index] == '-' : std::isxdigit(id[index]) && !std::islower(id[index]))
        << id;
  }
  EXPECT_EQ(id[14], '4') << "a random (version 4) identifier";
  EXPECT_EQ(store.string("VEDeviceId"), id);
  SettingsStore reopened(folder / "defaults.plist");
  EXPECT_EQ(reopened.string("VEDeviceId"), id);
}

TEST_F(DeviceIdentityTest, LaterCallsReturnTheSameIdentifierAndStoreNothing) {
  SupportClient client = makeClient(store);
  const std::string id = client.deviceId();
  const auto written = std::filesystem::last_write_time(folder / "defaults.plist");

  EXPECT_EQ(client.deviceId(), id);
  EXPECT_EQ(std::filesystem::last_write_time(folder / "defaults.plist"), written);
}

TEST_F(DeviceIdentityTest, AStoredIdentifierOfAnyFormIsUsedUnchanged) {
  store.set("VEDeviceId", "not-a-uuid, lower case");
  SupportClient client = makeClient(store);

  EXPECT_EQ(client.deviceId(), "not-a-uuid, lower case");
  EXPECT_EQ(client.identityFields()["d"], "not-a-uuid, lower case");
}

TEST_F(DeviceIdentityTest, SimultaneousFirstCallsAgreeOnOneIdentifier) {
  SupportClient first = makeClient(store);
  SupportClient second = makeClient(store);
  std::vector<std::string> ids(8);
  std::vector<std::thread> threads;
  for (std::size_t index = 0; index < ids.size(); ++index) {
    threads.emplace_back([&, index] { ids[index] = (index % 2 == 0 ? first : second).deviceId(); });
  }
  for (auto& thread : threads) {
    thread.join();
  }

  for (const auto& id : ids) {
    EXPECT_EQ(id, ids.front());
  }
  EXPECT_EQ(store.string("VEDeviceId"), ids.front());
}

TEST_F(DeviceIdentityTest, FreshClientStartsWithNoPendingMessageAndTicketStateNone) {
  SupportClient client = makeClient(store);

  EXPECT_FALSE(client.pendingMessage);
  EXPECT_EQ(client.ticketState, "none");
  EXPECT_EQ(client.checkURL(), "http://127.0.0.1:1/check");
}

} // namespace
