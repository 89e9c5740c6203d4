#include "core/support/message_history.h"

#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/settings_store.h"
#include "tests/core/support/message_client_rig.h"

namespace {

using namespace std::chrono_literals;
using Dictionary = SettingsValue::Dictionary;

class MessageHistoryTest : public ::testing::Test {
 protected:
  std::vector<std::string> bodies() const {
    std::vector<std::string> result;
    for (const ArchivedMessage& message : client->messageHistory()) {
      result.push_back(message.body);
    }
    return result;
  }

  MessageClientRig rig;
  std::unique_ptr<SupportClient> client = rig.makeClient();
};

TEST_F(MessageHistoryTest, Archive_OncePerMakerIdEveryReplyNewestFirstAtMost50AcrossLaunches) {
  client->archive(7, "Welcome");
  rig.clock += 250ms;
  client->archiveOwn("one");
  client->archiveOwn("two"); // the same second: the same negative id, both kept
  client->archive(7, "Again");
  const auto history = client->messageHistory();
  ASSERT_EQ(history.size(), 3u);
  EXPECT_EQ(history[0].id, history[1].id);
  EXPECT_LT(history[0].id, 0);
  EXPECT_TRUE(history[0].mine && !history[2].mine);
  EXPECT_EQ(history[2].date, rig.clock - 250ms);
  const auto stored = rig.store->object(MessageHistory::key);
  EXPECT_EQ(stored->as<SettingsValue::Array>()->front(),
            SettingsValue(Dictionary{{"id", std::int64_t{7}},
                                     {"body", "Welcome"},
                                     {"date", rig.clock - 250ms},
                                     {"mine", false}}));
  for (int id = 1; id <= 50; ++id) {
    client->archive(100 + id, "m" + std::to_string(id));
  }
  SettingsStore reopened(rig.folder / "defaults.plist");
  const auto later = MessageHistory(reopened).entries(rig.clock);
  ASSERT_EQ(later.size(), 50u);
  EXPECT_EQ(later.front().body, "m50");
  EXPECT_EQ(later.back().body, "m1");
}

TEST_F(MessageHistoryTest, Read_UnusableValuesAreEmptyAndOddEntriesHiddenButStillStored) {
  for (const SettingsValue& value :
       {SettingsValue("not a list"), SettingsValue(std::int64_t{4}),
        SettingsValue(SettingsValue::Array{Dictionary{{"id", std::int64_t{1}}, {"body", "ok"}},
                                           SettingsValue(3)})}) {
    rig.store->set(MessageHistory::key, value);
    EXPECT_TRUE(client->messageHistory().empty());
  }
  rig.store->set(MessageHistory::key,
                 SettingsValue::Array{
                     Dictionary{{"body", "no id"}},
                     Dictionary{{"id", "5"}, {"body", "text id"}},
                     Dictionary{{"id", 2.0}, {"body", "real id"}},
                     Dictionary{{"id", std::int64_t{7}}, {"body", std::int64_t{7}}},
                     Dictionary{{"id", std::int64_t{4}}, {"body", "text date"}, {"date", "2026"}},
                     Dictionary{{"id", std::int64_t{-2}}, {"body", "number mine"}, {"mine", 1}},
                 });
  for (const auto later : {0h, 3h}) {
    rig.clock += later;
    const auto history = client->messageHistory();
    ASSERT_EQ(history.size(), 2u);
    EXPECT_FALSE(history[0].mine);
    EXPECT_EQ(history[1].date, rig.clock) << "a text date reads as the time of reading";
  }
  client->archive(9, "new");
  EXPECT_EQ(rig.store->object(MessageHistory::key)->as<SettingsValue::Array>()->size(), 7u);
  rig.store->set(MessageHistory::key, SettingsValue("broken"));
  client->archiveOwn(std::string("typed") + '\0' + "on");
  EXPECT_EQ(bodies(), std::vector<std::string>{"typedon"});
}

} // namespace
