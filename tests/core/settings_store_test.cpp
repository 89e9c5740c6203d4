#include "core/settings_store.h"

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "tests/core/test_files.h"
#include "tests/support/environment_variable.h"
#include "tests/support/temporary_folder.h"
#include "tests/support/unprivileged_child.h"

namespace {

using namespace std::chrono_literals;
using Array = SettingsValue::Array;
using Dictionary = SettingsValue::Dictionary;

SettingsValue::Date at(std::int64_t unixSeconds) {
  return SettingsValue::Date(std::chrono::seconds(unixSeconds));
}

class SettingsStoreTest : public ::testing::Test {
 protected:
  std::filesystem::path file() const { return folder_ / "VarneloEject" / "defaults.plist"; }
  std::vector<std::string> corruptCopies() const {
    std::vector<std::string> contents;
    for (const auto& entry : std::filesystem::directory_iterator(file().parent_path())) {
      if (entry.path().filename().string().starts_with("defaults.plist.corrupt-")) {
        contents.push_back(entry.is_directory() ? readFile(entry.path() / "inside")
                                                : readFile(entry.path()));
      }
    }
    return contents;
  }

  TemporaryFolder folder_;
};

TEST_F(SettingsStoreTest, ValuesSurviveTheFileAndOtherEntriesAreKept) {
  // Seconds only, and dates beyond the format's range held at its limit in memory too.
  const std::int64_t latest = std::int64_t{978'307'200} + std::numeric_limits<std::int32_t>::max();
  const std::tuple<std::string, SettingsValue, SettingsValue> rows[] = {
      {"flag", false, false},
      {"largest", std::numeric_limits<std::int64_t>::max(),
       std::numeric_limits<std::int64_t>::max()},
      {"smallest", std::numeric_limits<std::int64_t>::min(),
       std::numeric_limits<std::int64_t>::min()},
      {"ratio", 0.1, 0.1},
      {"text", "Café <b> & \"q\" 100% {x}", "Café <b> & \"q\" 100% {x}"},
      {"empty", "", ""},
      {"old", at(-631'152'000), at(-631'152'000)},
      {"fraction", at(1'600'000'000) + 750ms, at(1'600'000'000)},
      {"far", at(5'000'000'000), at(latest)},
      {"nested", Dictionary{{"list", Array{1, "two", 3.5, true, Array{}}}, {"d", at(7)}},
       Dictionary{{"list", Array{1, "two", 3.5, true, Array{}}}, {"d", at(7)}}}};
  writeFile(file(), R"(<?xml version="1.0" encoding="UTF-8"?><plist version="1.0"><dict>
    <key>When</key><date>2001-01-01T00:01:40Z</date><key>Blob</key><data>aGVsbG8=</data>
    </dict></plist>)");
  SettingsStore store(file());
  EXPECT_EQ(store.object("When"), SettingsValue(at(978'307'300)));
  EXPECT_FALSE(store.object("Blob").has_value());
  for (const auto& [key, value, read] : rows) {
    ASSERT_TRUE(store.set(key, value)) << key;
    EXPECT_EQ(store.object(key), read) << key;
  }
  EXPECT_NE(readFile(file()).find("aGVsbG8="), std::string::npos);
  SettingsStore reopened(file());
  for (const auto& [key, value, read] : rows) {
    EXPECT_EQ(reopened.object(key), read) << key;
  }
  EXPECT_TRUE(store.remove("text"));
  EXPECT_TRUE(store.remove("never-there"));
  EXPECT_FALSE(SettingsStore(file()).object("text").has_value());
}

TEST_F(SettingsStoreTest, BooleanReadingFollowsTheUsualRulesAndReadingCreatesNoFile) {
  SettingsStore store(file());
  EXPECT_FALSE(store.boolean("absent"));
  EXPECT_FALSE(store.string("absent").has_value());
  EXPECT_FALSE(std::filesystem::exists(file()));
  const std::pair<SettingsValue, bool> rows[] = {{true, true},
                                                 {1, true},
                                                 {-3, true},
                                                 {0.5, true},
                                                 {"YES", true},
                                                 {"True", true},
                                                 {"1", true},
                                                 {"-2", true},
                                                 {"007", true},
                                                 {false, false},
                                                 {0, false},
                                                 {0.0, false},
                                                 {"0", false},
                                                 {"000", false},
                                                 {"NO", false},
                                                 {"", false},
                                                 {"maybe", false},
                                                 {"1x", false},
                                                 {at(9), false},
                                                 {Array{true}, false},
                                                 {Dictionary{{"a", true}}, false},
                                                 {"99999999999999999999999", true}};
  for (const auto& [value, expected] : rows) {
    store.set("key", value);
    EXPECT_EQ(store.boolean("key"), expected) << testing::PrintToString(value);
  }
  store.set("key", 12);
  EXPECT_FALSE(store.string("key").has_value()) << "a number is not a text";
}

TEST_F(SettingsStoreTest, DamagedOrUnreadableFileReadsEmptyAndIsKeptAsideAtTheNextWrite) {
  writeFile(file(), "");
  ASSERT_TRUE(SettingsStore(file()).set("VEDeviceId", "0123456789abcdef"));
  EXPECT_TRUE(corruptCopies().empty()) << "an empty file is simply replaced";
  const std::string whole = readFile(file());
  const std::string damaged[] = {"not a property list", whole.substr(0, whole.size() / 2),
                                 R"(<?xml version="1.0"?><plist version="1.0"><array/></plist>)",
                                 "precious"}; // last: a folder where the file should be
  SettingsStore store(file());
  std::vector<std::string> expectedCopies;
  for (const std::string& bytes : damaged) {
    SCOPED_TRACE(bytes);
    if (bytes == "precious") {
      std::filesystem::remove(file());
      writeFile(file() / "inside", bytes);
    } else {
      writeFile(file(), bytes);
    }
    EXPECT_FALSE(store.object("VEDeviceId").has_value());
    EXPECT_EQ(corruptCopies().size(), expectedCopies.size()) << "reading must not move it";
    ASSERT_TRUE(store.set("fresh", true));
    expectedCopies.push_back(bytes);
    auto copies = corruptCopies();
    std::sort(copies.begin(), copies.end());
    std::sort(expectedCopies.begin(), expectedCopies.end());
    EXPECT_EQ(copies, expectedCopies);
    EXPECT_EQ(SettingsStore(file()).object("fresh"), SettingsValue(true));
  }
}

TEST_F(SettingsStoreTest, UnwritablePlaceFailsTheWriteKeepsTheValueInMemoryAndTheOldFile) {
  EXPECT_TRUE(SettingsStore(folder_ / "a" / "b" / "defaults.plist").set("x", 1));
  writeFile(folder_ / "blocked", "");
  SettingsStore blocked(folder_ / "blocked" / "defaults.plist");
  EXPECT_FALSE(blocked.set("VEStatusColor", "#3B82F6"));
  EXPECT_EQ(blocked.string("VEStatusColor"), "#3B82F6");
  EXPECT_FALSE(blocked.remove("VEStatusColor"));

  ASSERT_TRUE(SettingsStore(file()).set("a", 1));
  const std::string before = readFile(file());
  std::filesystem::permissions(file().parent_path(), std::filesystem::perms::owner_read |
                                                         std::filesystem::perms::owner_exec);
  EXPECT_TRUE(passesAsUnprivilegedUser(folder_.path(), [this] {
    SettingsStore store(file());
    return !store.set("a", 2) && store.object("a") == SettingsValue(2);
  }));
  std::filesystem::permissions(file().parent_path(), std::filesystem::perms::owner_all);
  EXPECT_EQ(readFile(file()), before);
}

TEST_F(SettingsStoreTest, WritesFromOtherStoresThreadsAndProcessesAreSeenAndAllKept) {
  SettingsStore first(file());
  SettingsStore second(file());
  for (int value = 1; value < 4; ++value) { // cached state must never hide a change
    ASSERT_TRUE((value % 2 ? first : second).set("shared", value));
    EXPECT_EQ((value % 2 ? second : first).object("shared"), SettingsValue(value));
  }
  std::vector<pid_t> children;
  for (int process = 0; process < 3; ++process) {
    const pid_t child = ::fork();
    if (child == 0) {
      SettingsStore writer(file());
      bool written = writer.object("shared") == SettingsValue(3);
      for (int index = 0; index < 20; ++index) {
        written = writer.set(fmt::format("p{}-{}", process, index), index) && written;
      }
      ::_exit(written ? 0 : 1);
    }
    children.push_back(child);
  }
  std::vector<std::thread> threads;
  for (int thread = 0; thread < 4; ++thread) {
    threads.emplace_back([store = thread % 2 ? &first : &second, thread] {
      for (int index = 0; index < 20; ++index) {
        store->set(fmt::format("t{}-{}", thread, index), index);
      }
    });
  }
  for (auto& thread : threads) {
    thread.join();
  }
  for (const pid_t child : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_EQ(first.object("p0-0"), SettingsValue(0));
  ASSERT_TRUE(first.set("shared", 4));
  SettingsStore reopened(file());
  for (const char* prefix : {"p0", "p1", "p2", "t0", "t1", "t2", "t3"}) {
    for (int index = 0; index < 20; ++index) {
      EXPECT_EQ(reopened.object(fmt::format("{}-{}", prefix, index)), SettingsValue(index));
    }
  }
  std::filesystem::remove(file());
  EXPECT_FALSE(first.object("shared").has_value()) << "a removed file reads as empty";
}

TEST(SettingsStoreLocation, FollowsXdgConfigHomeOrFallsBackToDotConfigWhenUnsetOrEmpty) {
  EnvironmentVariable home("HOME", "/home/someone");
  for (const char* config : {"/somewhere", "", static_cast<const char*>(nullptr)}) {
    EnvironmentVariable variable("XDG_CONFIG_HOME", config);
    EXPECT_EQ(SettingsStore::defaultFile(),
              config != nullptr && *config != '\0'
                  ? "/somewhere/VarneloEject/defaults.plist"
                  : "/home/someone/.config/VarneloEject/defaults.plist");
  }
}

} // namespace
