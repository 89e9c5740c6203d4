#include "core/settings_store.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "tests/support/temporary_folder.h"
#include "tests/support/environment_variable.h"

namespace {

using namespace std::chrono_literals;

std::string readFile(const std::filesystem::path& path) {
  std::ifstream stream(path, std::ios::binary);
  std::stringstream contents;
  contents << stream.rdbuf();
  return contents.str();
}

void writeFile(const std::filesystem::path& path, const std::string& contents) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream stream(path, std::ios::binary | std::ios::trunc);
  stream << contents;
}

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

// Runs the body in a child process and waits for it; true when it exited with status 0.
template <typename Body> bool runInChildProcess(Body body) {
  const pid_t child = ::fork();
  if (child == 0) {
    ::_exit(body() ? 0 : 1);
  }
  int status = 0;
  return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) &&
         WEXITSTATUS(status) == 0;
}

class SettingsStoreTest : public ::testing::Test {
 protected:
  std::filesystem::path file() const { return folder_ / "VarneloEject" / "defaults.plist"; }

  TemporaryFolder folder_;
};

// --- Types -----------------------------------------------------------------------------------

TEST_F(SettingsStoreTest, EveryValueTypeSurvivesARoundTripThroughTheFile) {
  const SettingsValue::Dictionary nested{
      {"list", SettingsValue::Array{1, "two", 3.5, true, SettingsValue::Array{}}},
      {"inner", SettingsValue::Dictionary{{"deep", SettingsValue::Array{"x"}}}},
      {"when", dateFromUnixSeconds(1'700'000'000)},
  };
  {
    SettingsStore store(file());
    ASSERT_TRUE(store.set("flag", true));
    ASSERT_TRUE(store.set("off", false));
    ASSERT_TRUE(store.set("count", std::int64_t{42}));
    ASSERT_TRUE(store.set("negative", std::int64_t{-7}));
    ASSERT_TRUE(store.set("largest", std::numeric_limits<std::int64_t>::max()));
    ASSERT_TRUE(store.set("smallest", std::numeric_limits<std::int64_t>::min()));
    ASSERT_TRUE(store.set("ratio", 0.1));
    ASSERT_TRUE(store.set("text", "Café <b> & \"quotes\" 100% {x}"));
    ASSERT_TRUE(store.set("empty", ""));
    ASSERT_TRUE(store.set("date", dateFromUnixSeconds(1'234'567'890)));
    ASSERT_TRUE(store.set("nested", nested));
  }
  SettingsStore reopened(file());
  EXPECT_EQ(reopened.object("flag"), SettingsValue(true));
  EXPECT_EQ(reopened.object("off"), SettingsValue(false));
  EXPECT_EQ(reopened.object("count"), SettingsValue(std::int64_t{42}));
  EXPECT_EQ(reopened.object("negative"), SettingsValue(std::int64_t{-7}));
  EXPECT_EQ(reopened.object("largest"), SettingsValue(std::numeric_limits<std::int64_t>::max()));
  EXPECT_EQ(reopened.object("smallest"), SettingsValue(std::numeric_limits<std::int64_t>::min()));
  EXPECT_EQ(reopened.object("ratio"), SettingsValue(0.1));
  EXPECT_EQ(reopened.object("text"), SettingsValue("Café <b> & \"quotes\" 100% {x}"));
  EXPECT_EQ(reopened.object("empty"), SettingsValue(""));
  EXPECT_EQ(reopened.object("date"), SettingsValue(dateFromUnixSeconds(1'234'567'890)));
  EXPECT_EQ(reopened.object("nested"), SettingsValue(nested));
}

TEST_F(SettingsStoreTest, DatesAreKeptToTheWholeSecondAlsoInMemory) {
  SettingsStore store(file());
  const auto precise = dateFromUnixSeconds(1'600'000'000) + 750ms;
  store.set("date", precise);
  // The same reading before and after the file round trip, so processes agree.
  EXPECT_EQ(store.object("date"), SettingsValue(dateFromUnixSeconds(1'600'000'000)));
  EXPECT_EQ(SettingsStore(file()).object("date"),
            SettingsValue(dateFromUnixSeconds(1'600'000'000)));
}

TEST_F(SettingsStoreTest, DatesBeforeTheEpochSurviveAndFarDatesAreHeldAtTheLimit) {
  SettingsStore store(file());
  store.set("old", dateFromUnixSeconds(-631'152'000));  // 1950
  store.set("far", dateFromUnixSeconds(5'000'000'000)); // 2128
  SettingsStore reopened(file());
  EXPECT_EQ(reopened.object("old"), SettingsValue(dateFromUnixSeconds(-631'152'000)));
  const std::int64_t latest = std::int64_t{978'307'200} + std::numeric_limits<std::int32_t>::max();
  EXPECT_EQ(reopened.object("far"), SettingsValue(dateFromUnixSeconds(latest)));
  EXPECT_EQ(store.object("far"), reopened.object("far"));
}

TEST_F(SettingsStoreTest, MissingKeyReadsAsNothing) {
  SettingsStore store(file());
  EXPECT_FALSE(store.object("absent").has_value());
  EXPECT_FALSE(store.string("absent").has_value());
  EXPECT_FALSE(store.boolean("absent"));
  EXPECT_FALSE(std::filesystem::exists(file())) << "reading must not create the file";
}

TEST_F(SettingsStoreTest, StringReadsOnlyTexts) {
  SettingsStore store(file());
  store.set("text", "hello");
  store.set("number", 12);
  EXPECT_EQ(store.string("text"), "hello");
  EXPECT_FALSE(store.string("number").has_value());
}

TEST_F(SettingsStoreTest, RemoveDeletesTheKeyFromTheFile) {
  SettingsStore store(file());
  store.set("keep", 1);
  store.set("drop", 2);
  EXPECT_TRUE(store.remove("drop"));
  EXPECT_TRUE(store.remove("never-there"));
  SettingsStore reopened(file());
  EXPECT_FALSE(reopened.object("drop").has_value());
  EXPECT_EQ(reopened.object("keep"), SettingsValue(1));
}

TEST_F(SettingsStoreTest, ReadsAPropertyListWrittenByHand) {
  writeFile(file(), R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0">
<dict>
  <key>VEMenuBarMode</key><true/>
  <key>Count</key><integer>3</integer>
  <key>When</key><date>2001-01-01T00:01:40Z</date>
</dict>
</plist>
)");
  SettingsStore store(file());
  EXPECT_EQ(store.object("VEMenuBarMode"), SettingsValue(true));
  EXPECT_EQ(store.object("Count"), SettingsValue(3));
  EXPECT_EQ(store.object("When"), SettingsValue(dateFromUnixSeconds(978'307'200 + 100)));
}

TEST_F(SettingsStoreTest, EntriesOfOtherTypesSurviveWritesOfOtherKeys) {
  writeFile(file(), R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0">
<dict>
  <key>Blob</key><data>aGVsbG8=</data>
</dict>
</plist>
)");
  SettingsStore store(file());
  EXPECT_FALSE(store.object("Blob").has_value());
  ASSERT_TRUE(store.set("Other", 1));
  EXPECT_NE(readFile(file()).find("<data>"), std::string::npos);
}

// --- Boolean reading -------------------------------------------------------------------------

struct BooleanCase {
  SettingsValue stored;
  bool expected;
};

// Short names for the ctest entries.
void PrintTo(const BooleanCase& value, std::ostream* out) {
  std::visit(
      [out](const auto& content) {
        using T = std::decay_t<decltype(content)>;
        if constexpr (std::is_same_v<T, bool>) {
          *out << (content ? "Boolean true" : "Boolean false");
        } else if constexpr (std::is_same_v<T, std::int64_t>) {
          *out << "integer " << content;
        } else if constexpr (std::is_same_v<T, double>) {
          *out << "real " << content;
        } else if constexpr (std::is_same_v<T, std::string>) {
          *out << "text '" << content << "'";
        } else if constexpr (std::is_same_v<T, SettingsValue::Date>) {
          *out << "date";
        } else if constexpr (std::is_same_v<T, SettingsValue::Array>) {
          *out << "array";
        } else {
          *out << "dictionary";
        }
      },
      value.stored.storage());
  *out << " reads " << (value.expected ? "true" : "false");
}

class SettingsStoreBooleanTest : public SettingsStoreTest,
                                 public ::testing::WithParamInterface<BooleanCase> {};

TEST_P(SettingsStoreBooleanTest, ReadsTheUsualUserDefaultsBoolean) {
  SettingsStore store(file());
  store.set("key", GetParam().stored);
  EXPECT_EQ(store.boolean("key"), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    StoredValues, SettingsStoreBooleanTest,
    ::testing::Values(BooleanCase{true, true}, BooleanCase{false, false}, BooleanCase{1, true},
                      BooleanCase{-3, true}, BooleanCase{0, false}, BooleanCase{0.5, true},
                      BooleanCase{0.0, false}, BooleanCase{"YES", true}, BooleanCase{"yes", true},
                      BooleanCase{"True", true}, BooleanCase{"TRUE", true}, BooleanCase{"1", true},
                      BooleanCase{"-2", true}, BooleanCase{"007", true},
                      BooleanCase{"99999999999999999999999", true}, BooleanCase{"0", false},
                      BooleanCase{"000", false}, BooleanCase{"NO", false},
                      BooleanCase{"false", false}, BooleanCase{"", false},
                      BooleanCase{"maybe", false}, BooleanCase{"1x", false},
                      BooleanCase{dateFromUnixSeconds(1'000'000'000), false},
                      BooleanCase{SettingsValue::Array{true}, false},
                      BooleanCase{SettingsValue::Dictionary{{"a", true}}, false}));

// --- Damaged files ---------------------------------------------------------------------------

TEST_F(SettingsStoreTest, UnparsableFileReadsEmptyAndIsKeptAsideBeforeTheNextWrite) {
  writeFile(file(), "this is not a property list");
  SettingsStore store(file());
  EXPECT_FALSE(store.object("anything").has_value());
  EXPECT_TRUE(filesStartingWith(file().parent_path(), "defaults.plist.corrupt-").empty())
      << "reading alone must not move the file";

  ASSERT_TRUE(store.set("fresh", true));
  const auto kept = filesStartingWith(file().parent_path(), "defaults.plist.corrupt-");
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(readFile(kept.front()), "this is not a property list");
  EXPECT_EQ(SettingsStore(file()).object("fresh"), SettingsValue(true));
}

TEST_F(SettingsStoreTest, TruncatedFileReadsEmptyAndIsKeptAside) {
  {
    SettingsStore store(file());
    store.set("VEDeviceId", "0123456789abcdef");
    store.set("VEMenuBarMode", true);
  }
  const std::string whole = readFile(file());
  const std::string torn = whole.substr(0, whole.size() / 2);
  writeFile(file(), torn);

  SettingsStore store(file());
  EXPECT_FALSE(store.object("VEDeviceId").has_value());
  ASSERT_TRUE(store.set("VEMenuBarMode", false));
  const auto kept = filesStartingWith(file().parent_path(), "defaults.plist.corrupt-");
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(readFile(kept.front()), torn);
}

TEST_F(SettingsStoreTest, TopLevelThatIsNotADictionaryReadsEmptyAndIsKeptAside) {
  writeFile(file(), R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><array><string>x</string></array></plist>
)");
  SettingsStore store(file());
  EXPECT_FALSE(store.object("x").has_value());
  ASSERT_TRUE(store.set("x", 1));
  EXPECT_EQ(filesStartingWith(file().parent_path(), "defaults.plist.corrupt-").size(), 1u);
}

TEST_F(SettingsStoreTest, FileThatCannotBeReadIsKeptAsideNotOverwritten) {
  // A folder in the file's place cannot be read, by root either.
  writeFile(file() / "inside", "precious");
  SettingsStore store(file());
  EXPECT_FALSE(store.object("inside").has_value());
  ASSERT_TRUE(store.set("fresh", 1));
  const auto kept = filesStartingWith(file().parent_path(), "defaults.plist.corrupt-");
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(readFile(kept.front() / "inside"), "precious");
  EXPECT_EQ(SettingsStore(file()).object("fresh"), SettingsValue(1));
}

TEST_F(SettingsStoreTest, EmptyFileReadsEmptyAndIsSimplyReplaced) {
  writeFile(file(), "");
  SettingsStore store(file());
  EXPECT_FALSE(store.object("a").has_value());
  ASSERT_TRUE(store.set("a", 1));
  EXPECT_TRUE(filesStartingWith(file().parent_path(), "defaults.plist.corrupt-").empty());
}

TEST_F(SettingsStoreTest, EachCorruptFileIsKeptUnderItsOwnName) {
  SettingsStore store(file());
  writeFile(file(), "first damage");
  store.set("a", 1);
  writeFile(file(), "second damage");
  store.set("b", 2);
  EXPECT_EQ(filesStartingWith(file().parent_path(), "defaults.plist.corrupt-").size(), 2u);
}

TEST_F(SettingsStoreTest, WritesLeaveNoTemporaryFilesBehind) {
  SettingsStore store(file());
  for (int index = 0; index < 5; ++index) {
    store.set(fmt::format("key{}", index), index);
  }
  EXPECT_TRUE(filesStartingWith(file().parent_path(), "defaults.plist.tmp").empty());
}

// --- Unwritable places -----------------------------------------------------------------------

TEST_F(SettingsStoreTest, FolderThatCannotBeCreatedFailsTheWriteButKeepsTheValueInMemory) {
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

TEST_F(SettingsStoreTest, MissingFoldersAreCreated) {
  SettingsStore store(folder_ / "a" / "b" / "c" / "defaults.plist");
  EXPECT_TRUE(store.set("x", 1));
  EXPECT_TRUE(std::filesystem::exists(folder_ / "a" / "b" / "c" / "defaults.plist"));
}

// --- Sharing ---------------------------------------------------------------------------------

TEST_F(SettingsStoreTest, SecondStoreOnTheSameFileSeesTheOthersWrites) {
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
}

TEST_F(SettingsStoreTest, RemovedFileReadsAsEmpty) {
  SettingsStore first(file());
  first.set("a", 1);
  std::filesystem::remove(file());
  EXPECT_FALSE(first.object("a").has_value());
}

TEST_F(SettingsStoreTest, WritesFromAnotherProcessAreSeenAndKept) {
  SettingsStore store(file());
  ASSERT_TRUE(store.set("parent", 1));
  EXPECT_EQ(store.object("parent"), SettingsValue(1));
  const auto path = file();
  ASSERT_TRUE(runInChildProcess([&] {
    SettingsStore child(path);
    return child.object("parent") == SettingsValue(1) && child.set("child", "from child");
  }));
  EXPECT_EQ(store.object("child"), SettingsValue("from child"));
  ASSERT_TRUE(store.set("parent", 2));
  SettingsStore reopened(file());
  EXPECT_EQ(reopened.object("child"), SettingsValue("from child"));
  EXPECT_EQ(reopened.object("parent"), SettingsValue(2));
}

TEST_F(SettingsStoreTest, ConcurrentWritersInSeveralProcessesLoseNothing) {
  constexpr int processes = 4;
  constexpr int keysEach = 20;
  const auto path = file();
  std::vector<pid_t> children;
  for (int process = 0; process < processes; ++process) {
    const pid_t child = ::fork();
    if (child == 0) {
      SettingsStore store(path);
      bool ok = true;
      for (int index = 0; index < keysEach; ++index) {
        ok = store.set(fmt::format("p{}-{}", process, index), index) && ok;
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
  SettingsStore store(path);
  for (int process = 0; process < processes; ++process) {
    for (int index = 0; index < keysEach; ++index) {
      EXPECT_EQ(store.object(fmt::format("p{}-{}", process, index)), SettingsValue(index));
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

TEST(SettingsStoreLocation, FollowsXdgConfigHome) {
  EnvironmentVariable config("XDG_CONFIG_HOME", "/somewhere/config");
  EXPECT_EQ(SettingsStore::defaultFile(), "/somewhere/config/VarneloEject/defaults.plist");
}

TEST(SettingsStoreLocation, FallsBackToDotConfigWhenXdgConfigHomeIsUnsetOrEmpty) {
  EnvironmentVariable home("HOME", "/home/someone");
  {
    EnvironmentVariable config("XDG_CONFIG_HOME", nullptr);
    EXPECT_EQ(SettingsStore::defaultFile(), "/home/someone/.config/VarneloEject/defaults.plist");
  }
  EnvironmentVariable config("XDG_CONFIG_HOME", "");
  EXPECT_EQ(SettingsStore::defaultFile(), "/home/someone/.config/VarneloEject/defaults.plist");
}

} // namespace
