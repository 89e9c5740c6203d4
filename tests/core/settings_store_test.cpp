#include "core/settings_store.h"

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "tests/core/test_files.h"
#include "tests/support/environment_variable.h"
#include "tests/support/temporary_folder.h"

namespace {

using namespace std::chrono_literals;

// Files in the folder whose names start with the prefix.
std::vector<std::filesystem::path> filesStartingWith(const std::filesystem::path& folder,
                                                     const std::string& prefix) {
  std::vector<std::filesystem::path> found;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.path().filename().string().starts_with(prefix)) {
      found.push_back(entry.path());
    }
  }
  return found;
}

SettingsValue::Date dateFromUnixSeconds(std::int64_t seconds) {
  return SettingsValue::Date(std::chrono::seconds(seconds));
}

class SettingsStoreTest : public ::testing::Test {
 protected:
  std::filesystem::path file() const { return folder_ / "VarneloEject" / "defaults.plist"; }
  std::vector<std::filesystem::path> corruptCopies() const {
    return filesStartingWith(file().parent_path(), "defaults.plist.corrupt-");
  }

  TemporaryFolder folder_;
};

// --- Types -----------------------------------------------------------------------------------

TEST_F(SettingsStoreTest, EveryValueTypeSurvivesARoundTripThroughTheFile) {
  const SettingsValue::Dictionary nested{
      {"list", SettingsValue::Array{1, "two", 3.5, true, SettingsValue::Array{}}},
      {"inner", SettingsValue::Dictionary{{"deep", SettingsValue::Array{"x"}}}},
      {"when", dateFromUnixSeconds(1'700'000'000)},
  };
  const std::pair<std::string, SettingsValue> values[] = {
      {"flag", true},
      {"off", false},
      {"count", std::int64_t{42}},
      {"negative", std::int64_t{-7}},
      {"largest", std::numeric_limits<std::int64_t>::max()},
      {"smallest", std::numeric_limits<std::int64_t>::min()},
      {"ratio", 0.1},
      {"text", "Café <b> & \"quotes\" 100% {x}"},
      {"empty", ""},
      {"date", dateFromUnixSeconds(1'234'567'890)},
      {"old", dateFromUnixSeconds(-631'152'000)}, // 1950
      {"nested", nested}};
  {
    SettingsStore store(file());
    for (const auto& [key, value] : values) {
      ASSERT_TRUE(store.set(key, value)) << key;
    }
  }
  SettingsStore reopened(file());
  for (const auto& [key, value] : values) {
    EXPECT_EQ(reopened.object(key), value) << key;
  }
}

TEST_F(SettingsStoreTest, DatesAreKeptToTheWholeSecondAndFarOnesHeldAtTheLimitAlsoInMemory) {
  SettingsStore store(file());
  store.set("date", dateFromUnixSeconds(1'600'000'000) + 750ms);
  store.set("far", dateFromUnixSeconds(5'000'000'000)); // 2128
  // The same reading before and after the file round trip, so processes agree.
  const std::int64_t latest = std::int64_t{978'307'200} + std::numeric_limits<std::int32_t>::max();
  SettingsStore reopened(file());
  for (SettingsStore* reader : {&store, &reopened}) {
    EXPECT_EQ(reader->object("date"), SettingsValue(dateFromUnixSeconds(1'600'000'000)));
    EXPECT_EQ(reader->object("far"), SettingsValue(dateFromUnixSeconds(latest)));
  }
}

TEST_F(SettingsStoreTest, MissingKeysAndNonTextsReadAsNothingAndRemovedKeysLeaveTheFile) {
  SettingsStore store(file());
  EXPECT_FALSE(store.object("absent").has_value());
  EXPECT_FALSE(store.string("absent").has_value());
  EXPECT_FALSE(store.boolean("absent"));
  EXPECT_FALSE(std::filesystem::exists(file())) << "reading must not create the file";
  store.set("text", "hello");
  store.set("number", 12);
  EXPECT_EQ(store.string("text"), "hello");
  EXPECT_FALSE(store.string("number").has_value());
  EXPECT_TRUE(store.remove("number"));
  EXPECT_TRUE(store.remove("never-there"));
  SettingsStore reopened(file());
  EXPECT_FALSE(reopened.object("number").has_value());
  EXPECT_EQ(reopened.object("text"), SettingsValue("hello"));
}

TEST_F(SettingsStoreTest, ReadsAHandWrittenListAndKeepsEntriesOfOtherTypesAcrossWrites) {
  writeFile(file(), R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0">
<dict>
  <key>VEMenuBarMode</key><true/>
  <key>Count</key><integer>3</integer>
  <key>When</key><date>2001-01-01T00:01:40Z</date>
  <key>Blob</key><data>aGVsbG8=</data>
</dict>
</plist>
)");
  SettingsStore store(file());
  EXPECT_EQ(store.object("VEMenuBarMode"), SettingsValue(true));
  EXPECT_EQ(store.object("Count"), SettingsValue(3));
  EXPECT_EQ(store.object("When"), SettingsValue(dateFromUnixSeconds(978'307'200 + 100)));
  EXPECT_FALSE(store.object("Blob").has_value());
  ASSERT_TRUE(store.set("Other", 1));
  EXPECT_NE(readFile(file()).find("<data>"), std::string::npos);
}

// --- Boolean reading -------------------------------------------------------------------------

TEST_F(SettingsStoreTest, BooleanReadingFollowsTheUsualUserDefaultsRules) {
  const std::vector<SettingsValue> truthy{
      true, 1, -3, 0.5, "YES", "yes", "True", "TRUE", "1", "-2", "007", "99999999999999999999999"};
  const SettingsValue date = dateFromUnixSeconds(1'000'000'000);
  const SettingsValue array = SettingsValue::Array{true};
  const SettingsValue dictionary = SettingsValue::Dictionary{{"a", true}};
  const std::vector<SettingsValue> falsy{false, 0,       0.0,  "0",  "000", "NO",      "false",
                                         "",    "maybe", "1x", date, array, dictionary};
  SettingsStore store(file());
  for (const bool expected : {true, false}) {
    const auto& values = expected ? truthy : falsy;
    for (std::size_t row = 0; row < values.size(); ++row) {
      store.set("key", values[row]);
      EXPECT_EQ(store.boolean("key"), expected)
          << (expected ? "truthy" : "falsy") << " row " << row;
    }
  }
}

// --- Damaged files ---------------------------------------------------------------------------

TEST_F(SettingsStoreTest, DamagedFileReadsEmptyAndIsKeptAsideOnlyAtTheNextWriteUnlessEmpty) {
  writeFile(file(), "");
  {
    SettingsStore store(file());
    EXPECT_FALSE(store.object("VEDeviceId").has_value());
    ASSERT_TRUE(store.set("VEDeviceId", "0123456789abcdef"));
    ASSERT_TRUE(store.set("VEMenuBarMode", true));
  }
  EXPECT_TRUE(corruptCopies().empty()) << "an empty file is simply replaced";
  EXPECT_TRUE(filesStartingWith(file().parent_path(), "defaults.plist.tmp").empty());
  const std::string whole = readFile(file());
  const std::string damaged[] = {
      "this is not a property list", whole.substr(0, whole.size() / 2),
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><array>"
      "<string>x</string></array></plist>\n"};
  SettingsStore store(file());
  std::size_t keptBefore = 0;
  for (const std::string& bytes : damaged) {
    SCOPED_TRACE(bytes);
    writeFile(file(), bytes);
    EXPECT_FALSE(store.object("VEDeviceId").has_value());
    EXPECT_FALSE(store.object("x").has_value());
    EXPECT_EQ(corruptCopies().size(), keptBefore) << "reading alone must not move the file";

    ASSERT_TRUE(store.set("fresh", true));
    // Each damaged file is kept under its own name.
    const auto kept = corruptCopies();
    ASSERT_EQ(kept.size(), ++keptBefore);
    int holding = 0;
    for (const auto& copy : kept) {
      holding += readFile(copy) == bytes ? 1 : 0;
    }
    EXPECT_EQ(holding, 1);
    EXPECT_EQ(SettingsStore(file()).object("fresh"), SettingsValue(true));
    store.remove("fresh");
  }
}

TEST_F(SettingsStoreTest, FileThatCannotBeReadIsKeptAsideNotOverwritten) {
  // A folder in the file's place cannot be read, by root either.
  writeFile(file() / "inside", "precious");
  SettingsStore store(file());
  EXPECT_FALSE(store.object("inside").has_value());
  ASSERT_TRUE(store.set("fresh", 1));
  const auto kept = corruptCopies();
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(readFile(kept.front() / "inside"), "precious");
  EXPECT_EQ(SettingsStore(file()).object("fresh"), SettingsValue(1));
}

// --- Unwritable places -----------------------------------------------------------------------

TEST_F(SettingsStoreTest, MissingFoldersAreCreatedButABlockedOneFailsTheWriteNotTheValue) {
  EXPECT_TRUE(SettingsStore(folder_ / "a" / "b" / "c" / "defaults.plist").set("x", 1));
  EXPECT_TRUE(std::filesystem::exists(folder_ / "a" / "b" / "c" / "defaults.plist"));
  // A plain file where the folder should be: fails for root too.
  writeFile(folder_ / "blocked", "");
  SettingsStore store(folder_ / "blocked" / "defaults.plist");
  EXPECT_FALSE(store.set("VEStatusColor", "#3B82F6"));
  EXPECT_EQ(store.string("VEStatusColor"), "#3B82F6");
  EXPECT_FALSE(store.remove("VEStatusColor"));
}

TEST_F(SettingsStoreTest, ReadOnlyFolderFailsTheWriteAndLeavesTheOldFile) {
  if (::geteuid() == 0) {
    GTEST_SKIP() << "root writes into read-only folders; covered by the blocked-folder case";
  }
  SettingsStore store(file());
  ASSERT_TRUE(store.set("a", 1));
  const std::string before = readFile(file());
  std::filesystem::permissions(file().parent_path(), std::filesystem::perms::owner_read |
                                                         std::filesystem::perms::owner_exec);
  EXPECT_FALSE(store.set("a", 2));
  EXPECT_EQ(store.object("a"), SettingsValue(2));
  std::filesystem::permissions(file().parent_path(), std::filesystem::perms::owner_all);
  EXPECT_EQ(readFile(file()), before);
}

// --- Sharing ---------------------------------------------------------------------------------

TEST_F(SettingsStoreTest, SecondStoreOnTheSameFileSeesTheOthersWritesAndRemovals) {
  SettingsStore first(file());
  SettingsStore second(file());
  ASSERT_TRUE(first.set("shared", 1));
  EXPECT_EQ(second.object("shared"), SettingsValue(1));
  // Several writes in a row, each visible, so cached state never hides a change.
  for (int value = 2; value < 6; ++value) {
    ASSERT_TRUE(second.set("shared", value));
    EXPECT_EQ(first.object("shared"), SettingsValue(value));
  }
  ASSERT_TRUE(first.set("other", "x"));
  EXPECT_EQ(second.object("shared"), SettingsValue(5)) << "a write keeps the other's change";
  EXPECT_EQ(second.object("other"), SettingsValue("x"));
  std::filesystem::remove(file());
  EXPECT_FALSE(first.object("shared").has_value()) << "a removed file reads as empty";
}

TEST_F(SettingsStoreTest, ConcurrentWritesFromOtherProcessesAreSeenAndKeptAllOfThem) {
  constexpr int processes = 4;
  constexpr int keysEach = 20;
  SettingsStore store(file());
  ASSERT_TRUE(store.set("parent", 1));
  std::vector<pid_t> children;
  for (int process = 0; process < processes; ++process) {
    const pid_t child = ::fork();
    if (child == 0) {
      SettingsStore writer(file());
      bool ok = writer.object("parent") == SettingsValue(1);
      for (int index = 0; index < keysEach; ++index) {
        ok = writer.set(fmt::format("p{}-{}", process, index), index) && ok;
      }
      ::_exit(ok ? 0 : 1);
    }
    ASSERT_GT(child, 0);
    children.push_back(child);
  }
  for (const pid_t child : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  // The parent's store object sees the children's writes, and its next write keeps them.
  EXPECT_EQ(store.object("p0-0"), SettingsValue(0));
  ASSERT_TRUE(store.set("parent", 2));
  SettingsStore reopened(file());
  EXPECT_EQ(reopened.object("parent"), SettingsValue(2));
  for (int process = 0; process < processes; ++process) {
    for (int index = 0; index < keysEach; ++index) {
      EXPECT_EQ(reopened.object(fmt::format("p{}-{}", process, index)), SettingsValue(index));
    }
  }
}

TEST_F(SettingsStoreTest, ConcurrentWritesFromThreadsLoseNothing) {
  SettingsStore shared(file());
  SettingsStore other(file());
  constexpr int threadCount = 6;
  constexpr int keysEach = 25;
  std::vector<std::thread> threads;
  for (int thread = 0; thread < threadCount; ++thread) {
    // Half the threads go through a second store object on the same file.
    SettingsStore& store = thread % 2 == 0 ? shared : other;
    threads.emplace_back([&store, thread] {
      for (int index = 0; index < keysEach; ++index) {
        store.set(fmt::format("t{}-{}", thread, index), index);
        store.object("t0-0");
      }
    });
  }
  for (auto& thread : threads) {
    thread.join();
  }
  SettingsStore reopened(file());
  for (int thread = 0; thread < threadCount; ++thread) {
    for (int index = 0; index < keysEach; ++index) {
      EXPECT_EQ(reopened.object(fmt::format("t{}-{}", thread, index)), SettingsValue(index));
    }
  }
}

// --- Location --------------------------------------------------------------------------------

TEST(SettingsStoreLocation, FollowsXdgConfigHomeOrFallsBackToDotConfigWhenUnsetOrEmpty) {
  EnvironmentVariable home("HOME", "/home/someone");
  {
    EnvironmentVariable config("XDG_CONFIG_HOME", "/somewhere/config");
    EXPECT_EQ(SettingsStore::defaultFile(), "/somewhere/config/VarneloEject/defaults.plist");
  }
  for (const char* unset : {static_cast<const char*>(nullptr), ""}) {
    EnvironmentVariable config("XDG_CONFIG_HOME", unset);
    EXPECT_EQ(SettingsStore::defaultFile(), "/home/someone/.config/VarneloEject/defaults.plist");
  }
}

// --- Size cap --------------------------------------------------------------------------------

TEST_F(SettingsStoreTest, AFileOverTheSizeCapIsDamagedAndKeptAsideWithoutBeingParsed) {
  SettingsStore first(file());
  first.set("VEStatusColor", "#22C55E");
  // A valid property list, padded past the cap inside a comment.
  std::string whole = readFile(file());
  whole.insert(whole.find("<plist"),
               "<!--" + std::string(SettingsStore::maxFileBytes, 'x') + "-->");
  writeFile(file(), whole);
  SettingsStore store(file());
  EXPECT_FALSE(store.string("VEStatusColor"));
  store.set("VEOnboarded", true);
  EXPECT_EQ(corruptCopies().size(), 1u);
  EXPECT_LT(std::filesystem::file_size(file()), 4096u);
}

} // namespace
