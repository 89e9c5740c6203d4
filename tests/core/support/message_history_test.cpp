#include "core/support/message_history.h"

#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/settings_store.h"
#include "core/support/support_client.h"
#include "tests/core/support/message_client_rig.h"

namespace {

using namespace std::chrono_literals;

class MessageHistoryTest : public ::testing::Test {
 protected:
  SettingsValue::Array stored() const {
    const auto value = rig.store->object(MessageHistory::key);
    if (!value || !value->is<SettingsValue::Array>()) {
      return {};
    }
    return *value->as<SettingsValue::Array>();
  }

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

TEST_F(MessageHistoryTest,
       Archive_StoresADictionaryWithANativeDateAndReadsBackNewestFirstAfterARelaunch) {
  client->archive(7, "Welcome");
  rig.clock += 5min;
  client->archiveOwn("Thanks!");
  rig.clock += 1h;
  client->archive(7, "Again"); // the same maker id keeps its first text and date
  rig.clock -= 1h;
  const SettingsValue::Array list = stored();
  ASSERT_EQ(list.size(), 2u);
  const auto& first = *list[0].as<SettingsValue::Dictionary>();
  EXPECT_EQ(first.size(), 4u);
  EXPECT_EQ(first.at("id"), SettingsValue(std::int64_t{7}));
  EXPECT_EQ(first.at("body"), SettingsValue("Welcome"));
  EXPECT_TRUE(first.at("date").is<SettingsValue::Date>());
  EXPECT_EQ(first.at("mine"), SettingsValue(false));
  const std::vector<ArchivedMessage> history = client->messageHistory();
  ASSERT_EQ(history.size(), 2u);
  EXPECT_EQ(history[0].body, "Thanks!");
  EXPECT_TRUE(history[0].mine);
  EXPECT_EQ(history[0].date, rig.clock);
  EXPECT_EQ(history[1].id, 7);
  EXPECT_FALSE(history[1].mine);
  EXPECT_EQ(history[1].date, rig.clock - 5min);
  rig.relaunch();
  client = rig.makeClient();
  EXPECT_EQ(bodies(), (std::vector<std::string>{"Thanks!", "Welcome"})) << "kept for next launch";
}

TEST_F(MessageHistoryTest, Archive_The51stEntryPushesOutTheOldest) {
  for (int id = 1; id <= 51; ++id) {
    client->archive(id, "m" + std::to_string(id));
  }
  const std::vector<ArchivedMessage> history = client->messageHistory();
  ASSERT_EQ(history.size(), 50u);
  EXPECT_EQ(history.front().id, 51);
  EXPECT_EQ(history.back().id, 2);
  EXPECT_EQ(stored().size(), 50u);
}

TEST_F(MessageHistoryTest, ArchiveOwn_RepliesInTheSameSecondShareANegativeIdAndAllStay) {
  rig.clock += 250ms;
  client->archiveOwn("one");
  rig.clock += 500ms;
  client->archiveOwn("two");
  const std::vector<ArchivedMessage> history = client->messageHistory();
  ASSERT_EQ(history.size(), 2u);
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
                           std::chrono::floor<std::chrono::seconds>(rig.clock).time_since_epoch())
                           .count();
  EXPECT_EQ(history[0].id, -seconds);
  EXPECT_EQ(history[1].id, -seconds);
  EXPECT_EQ(history[0].body, "two");
  EXPECT_EQ(history[1].body, "one");
  EXPECT_TRUE(history[0].mine && history[1].mine);

  // Nor does a reply count as the maker's message of the same number.
  client->archive(seconds, "maker");
  EXPECT_EQ(client->messageHistory().size(), 3u);
}

// Reading what an older or damaged file holds.
TEST_F(MessageHistoryTest, Read_MissingOrUnusableValueIsAnEmptyHistoryReplacedByTheNextAddition) {
  EXPECT_TRUE(client->messageHistory().empty());
  const SettingsValue unusable[] = {
      SettingsValue("not a list"),
      SettingsValue(std::int64_t{4}),
      SettingsValue(SettingsValue::Array{
          SettingsValue::Dictionary{{"id", std::int64_t{1}}, {"body", "ok"}}, SettingsValue(3)}),
  };
  for (const SettingsValue& value : unusable) {
    rig.store->set(MessageHistory::key, value);
    EXPECT_TRUE(client->messageHistory().empty());
  }
  client->archiveOwn("fresh start");
  ASSERT_EQ(stored().size(), 1u);
  EXPECT_EQ(bodies(), std::vector<std::string>{"fresh start"});
}

TEST_F(MessageHistoryTest, Read_SkipsEntriesWithoutAnIntegerIdOrTextBodyButKeepsThemStored) {
  rig.store->set(
      MessageHistory::key,
      SettingsValue::Array{
          SettingsValue::Dictionary{{"body", "no id"}},
          SettingsValue::Dictionary{{"id", "5"}, {"body", "text id"}},
          SettingsValue::Dictionary{{"id", 2.0}, {"body", "real id"}},
          SettingsValue::Dictionary{{"id", std::int64_t{6}}},
          SettingsValue::Dictionary{{"id", std::int64_t{7}}, {"body", std::int64_t{7}}},
          SettingsValue::Dictionary{{"id", std::int64_t{8}}, {"body", "good"}, {"mine", true}},
      });
  const std::vector<ArchivedMessage> history = client->messageHistory();
  ASSERT_EQ(history.size(), 1u);
  EXPECT_EQ(history[0].id, 8);
  EXPECT_TRUE(history[0].mine);

  // The hidden ones still take their places toward the limit.
  client->archive(9, "new");
  EXPECT_EQ(stored().size(), 7u);
}

TEST_F(MessageHistoryTest, Read_TextDateIsTheTimeOfReadingAndMissingOrOddMineIsTheMakers) {
  rig.store->set(
      MessageHistory::key,
      SettingsValue::Array{
          SettingsValue::Dictionary{{"id", std::int64_t{4}},
                                    {"body", "hello"},
                                    {"date", "2026-01-01 10:00"},
                                    {"mine", false}},
          SettingsValue::Dictionary{{"id", std::int64_t{1}}, {"body", "a"}},
          SettingsValue::Dictionary{{"id", std::int64_t{-2}}, {"body", "b"}, {"mine", 1}},
          SettingsValue::Dictionary{{"id", std::int64_t{-3}}, {"body", "c"}, {"mine", "true"}},
      });
  for (const auto later : {0h, 3h}) {
    rig.clock += later;
    const std::vector<ArchivedMessage> history = client->messageHistory();
    ASSERT_EQ(history.size(), 4u);
    for (const ArchivedMessage& message : history) {
      EXPECT_FALSE(message.mine) << message.body;
      if (message.id == 4) {
        EXPECT_EQ(message.date, rig.clock);
      }
    }
  }
}

} // namespace
