#include "core/settings_store.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <limits>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "core/settings.h"
#include "tests/core/test_files.h"
#include "tests/support/environment_variable.h"
#include "tests/support/temporary_folder.h"

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
  std::multiset<std::string> corruptCopies() const {
    std::multiset<std::string> contents;
    for (const auto& entry : std::filesystem::directory_iterator(file().parent_path())) {
      if (entry.path().filename().string().starts_with("defaults.plist.corrupt-")) {
        contents.insert(entry.is_directory() ? readFile(entry.path() / "inside")
                                             : readFile(entry.path()));
      }
    }
    return contents;
  }

  TemporaryFolder folder_;
};

TEST_F(SettingsStoreTest, ValuesSurviveTheFileAndOtherEntriesAreKept) {
  writeFile(file(), R"(<?xml version="1.0" encoding="UTF-8"?><plist version="1.0"><dict>
    <key>When</key><date>2001-01-01T00:01:40Z</date><key>Blob</key><data>aGVsbG8=</data>
    </dict></plist>)");
  SettingsStore store(file());
  EXPECT_EQ(store.object("When"), SettingsValue(at(978'307'300)));
  EXPECT_FALSE(store.object("Blob").has_value());
  constexpr auto largest = std::numeric_limits<std::int64_t>::max();
  const SettingsValue nested = Dictionary{{"list", Array{1, "two", 3.5, true, Array{}}}};
  const SettingsValue values[] = {
      false, largest, -largest - 1, 0.1, "", "Café <b> & \"q\" 100% {x}", at(-631'152'000), nested};
  for (std::size_t key = 0; key < std::size(values); ++key) {
    ASSERT_TRUE(store.set(std::to_string(key), values[key]));
  }
  // Whole seconds only; dates beyond the format's range are held at its limit, in memory too.
  store.set("fraction", at(1'600'000'000) + 750ms);
  store.set("far", at(5'000'000'000));
  SettingsStore reopened(file());
  for (const SettingsStore* reader : {&store, &reopened}) {
    for (std::size_t key = 0; key < std::size(values); ++key) {
      EXPECT_EQ(reader->object(std::to_string(key)), values[key]) << key;
    }
    EXPECT_EQ(reader->object("fraction"), SettingsValue(at(1'600'000'000)));
    EXPECT_EQ(reader->object("far"), SettingsValue(at(978'307'200LL + INT32_MAX)));
  }
  EXPECT_NE(readFile(file()).find("aGVsbG8="), std::string::npos);
  EXPECT_TRUE(store.remove("0") && store.remove("never-there"));
  EXPECT_FALSE(SettingsStore(file()).object("0").has_value());
}

TEST_F(SettingsStoreTest, DamagedOrUnreadableFileReadsEmptyAndIsKeptAsideAtTheNextWrite) {
  writeFile(file(), "");
  ASSERT_TRUE(SettingsStore(file()).set("VEDeviceId", "0123456789abcdef"));
  EXPECT_TRUE(corruptCopies().empty()) << "an empty file is simply replaced";
  std::string whole = readFile(file());
  const std::string half = whole.substr(0, whole.size() / 2);
  // Valid but padded past the size cap: must not even be parsed.
  whole.insert(whole.find("<plist"),
               "<!--" + std::string(SettingsStore::maxFileBytes, 'x') + "-->");
  const std::string damaged[] = {"not a property list", half, whole,
                                 R"(<?xml version="1.0"?><plist version="1.0"><array/></plist>)",
                                 "precious"}; // last: a folder where the file should be
  SettingsStore store(file());
  std::multiset<std::string> expectedCopies;
  for (const std::string& bytes : damaged) {
    SCOPED_TRACE(bytes.substr(0, 60));
    if (bytes == "precious") {
      std::filesystem::remove(file());
      writeFile(file() / "inside", bytes);
    } else {
      writeFile(file(), bytes);
    }
    EXPECT_FALSE(store.object("VEDeviceId").has_value());
    EXPECT_EQ(corruptCopies().size(), expectedCopies.size()) << "reading must not move it";
    ASSERT_TRUE(store.set("fresh", true));
    expectedCopies.insert(bytes);
    EXPECT_EQ(corruptCopies(), expectedCopies);
    EXPECT_EQ(SettingsStore(file()).object("fresh"), SettingsValue(true));
    EXPECT_LT(std::filesystem::file_size(file()), 4096u);
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
  EXPECT_TRUE(folder_.passesAsUnprivilegedUser([this] {
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
  const auto writeKeys = [](SettingsStore& store, const std::string& prefix) {
    bool written = true;
    for (int index = 0; index < 20; ++index) {
      written = store.set(prefix + std::to_string(index), index) && written;
    }
    return written;
  };
  std::vector<pid_t> children;
  for (const char* prefix : {"p0-", "p1-", "p2-"}) {
    if ((children.emplace_back(::fork())) == 0) {
      SettingsStore writer(file());
      ::_exit(writer.object("shared") == SettingsValue(3) && writeKeys(writer, prefix) ? 0 : 1);
    }
  }
  std::thread other(writeKeys, std::ref(second), "t1-");
  writeKeys(first, "t0-");
  other.join();
  for (const pid_t child : children) {
    int status = 0;
    EXPECT_TRUE(::waitpid(child, &status, 0) == child && WIFEXITED(status) && !WEXITSTATUS(status));
  }
  EXPECT_EQ(first.object("p0-0"), SettingsValue(0));
  ASSERT_TRUE(first.set("shared", 4));
  SettingsStore reopened(file());
  for (const char* prefix : {"p0-", "p1-", "p2-", "t0-", "t1-"}) {
    for (int index = 0; index < 20; ++index) {
      EXPECT_EQ(reopened.object(prefix + std::to_string(index)), SettingsValue(index));
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
              config && *config ? "/somewhere/VarneloEject/defaults.plist"
                                : "/home/someone/.config/VarneloEject/defaults.plist");
  }
}

using SettingsDurability = SettingsStoreTest;

// A writer SIGKILLed at a random moment leaves the old or the new value, never a broken file.
TEST_F(SettingsDurability, KilledWriterLeavesOldOrNewValue) {
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("random seed " + std::to_string(seed));
  std::mt19937 random{seed};
  std::int64_t stored = 0; // what the file held before this round; 0: nothing yet
  for (int round = 0; round < 200; ++round) {
    int channel[2];
    ASSERT_EQ(::pipe2(channel, O_CLOEXEC), 0);
    const pid_t child = ::fork();
    if (child == 0) {
      for (std::int64_t value = stored + 1;; ++value) {
        if (!SettingsStore(file()).set("VEDurabilityCounter", value) ||
            ::write(channel[1], &value, sizeof value) != sizeof value) {
          ::_exit(3);
        }
      }
    }
    ::close(channel[1]);
    std::this_thread::sleep_for(
        std::chrono::microseconds(std::uniform_int_distribution<int>(0, 30000)(random)));
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    std::int64_t confirmed = stored;
    for (std::int64_t value = 0; ::read(channel[0], &value, sizeof value) == sizeof value;) {
      confirmed = value;
    }
    ::close(channel[0]);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);

    SCOPED_TRACE("round " + std::to_string(round));
    const auto found = SettingsStore(file()).object("VEDurabilityCounter");
    const std::int64_t* number = found ? found->as<std::int64_t>() : nullptr;
    // Killed before its first write finished, or the confirmed value or the one after it.
    ASSERT_TRUE(number ? *number == confirmed || *number == confirmed + 1 : confirmed == 0);
    ASSERT_TRUE(corruptCopies().empty());
    stored = number ? *number : 0;
  }
  EXPECT_GE(stored, 20) << "the writers were only ever killed while starting";
}

// Protections stay on unless a Boolean false is stored; other switches take the usual Boolean
// reading (a number other than zero, "YES", "true" or a non-zero integer as text); the colour
// is any text stored, its default otherwise.
TEST_F(SettingsStoreTest, EachSettingReadsByItsRuleAndEachChangeIsAnnouncedOnceAfterItIsStored) {
  SettingsStore store(file());
  Settings settings(store);
  EXPECT_FALSE(settings.onboarded() || std::filesystem::exists(file())) << "reading writes nothing";
  std::vector<std::string> announced;
  auto subscription = settings.subscribe([&](const std::string& key) {
    EXPECT_TRUE(store.object(key).has_value()) << key << " announced before it was stored";
    announced.push_back(key);
  });
  settings.setProtectTimeMachine(false);
  settings.setNotifyWhenSafe(false);
  settings.setAutomaticServerContact(false);
  settings.setEjectDiskImages(true);
  settings.setMenuBarMode(true);
  settings.setOnboarded(true);
  settings.setStatusColorHex("");
  EXPECT_EQ(announced, (std::vector<std::string>{"VEProtectTimeMachine", "VENotifyWhenSafe",
                                                 "VEAutomaticServerContact", "VEEjectDiskImages",
                                                 "VEMenuBarMode", "VEOnboarded", "VEStatusColor"}));
  EXPECT_FALSE(settings.protectTimeMachine() || settings.notifyWhenSafe() ||
               settings.automaticServerContact() || !settings.statusColorHex().empty());
  EXPECT_TRUE(settings.ejectDiskImages() && settings.menuBarMode() && settings.onboarded());
  subscription.reset();
  settings.setOnboarded(false);
  EXPECT_EQ(announced.size(), 7u) << "announced after the subscription ended";

  const std::optional<SettingsValue> stored[] = {
      std::nullopt, "YES", "NO", 0,       "",          false,
      "#3B82F6",    -3,    0.5,  " True", "007",       "99999999999999999999",
      "1x",         at(9), 0.0,  "000",   Array{true}, true};
  const std::tuple<const char*, std::function<bool()>, std::string> switches[] = {
      {"VEProtectTimeMachine", [&] { return settings.protectTimeMachine(); }, "111110111111111111"},
      {"VENotifyWhenSafe", [&] { return settings.notifyWhenSafe(); }, "111110111111111111"},
      {"VEAutomaticServerContact", [&] { return settings.automaticServerContact(); },
       "111110111111111111"},
      {"VEEjectDiskImages", [&] { return settings.ejectDiskImages(); }, "010000011111000001"},
      {"VEMenuBarMode", [&] { return settings.menuBarMode(); }, "010000011111000001"},
      {"VEOnboarded", [&] { return settings.onboarded(); }, "010000011111000001"},
      {"VEStatusColor", [&] { return settings.statusColorHex() == "#7C3AED"; },
       "100101011000011011"}};
  for (const auto& [key, read, expected] : switches) {
    std::string readings;
    for (const auto& value : stored) {
      value ? store.set(key, *value) : store.remove(key);
      readings += read() ? '1' : '0';
    }
    EXPECT_EQ(readings, expected) << key;
  }
}

TEST(StatusColour, IsSixHexDigitsWithOneNumberSignAndHorizontalSpaceAround) {
  EXPECT_EQ(colorFromHex("00ff00"), RgbColor{.green = 1});
  EXPECT_EQ(colorFromHex("\t\u00A0#7c3aED\u3000 "),
            (RgbColor{.red = 124 / 255.0, .green = 58 / 255.0, .blue = 237 / 255.0}));
  for (const char* text : {"#7C3AED\n", "", "#", "#7C3AE", "#7C3AED80", "#7C3AEG", "##7C3AED"})
    EXPECT_FALSE(colorFromHex(text).has_value()) << '"' << text << '"';
}

} // namespace
