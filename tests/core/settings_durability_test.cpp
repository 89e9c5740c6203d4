// A writer killed at any moment leaves a settings file that parses and holds either the value
// it held before the interrupted write or the value being written; never a broken file.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "core/settings_store.h"
#include "core/support/message_history.h"
#include "tests/support/temporary_folder.h"

namespace {

using Write = std::function<bool(std::int64_t)>;
using ReadNewest = std::function<std::optional<std::int64_t>()>;

// Kills writers of 1, 2, 3... in turn, each with SIGKILL after up to 30 ms (from start-up to
// several writes in); the child reports every finished write on a pipe.
void killWritersAndCheck(const std::filesystem::path& folder, const Write& write,
                         const ReadNewest& readNewest) {
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
        if (!write(value) || ::write(channel[1], &value, sizeof value) != sizeof value) {
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
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "round " << round;

    const auto found = readNewest();
    if (confirmed == 0 && !found) {
      continue; // killed before its first write finished
    }
    ASSERT_TRUE(found) << "round " << round << ": the file lost the value";
    ASSERT_TRUE(*found == confirmed || *found == confirmed + 1)
        << "round " << round << ": found " << *found << ", expected " << confirmed << " or "
        << confirmed + 1;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      ASSERT_EQ(entry.path().string().find(".corrupt-"), std::string::npos);
    }
    stored = *found;
  }
  EXPECT_GE(stored, 20) << "the writers were only ever killed while starting";
}

class SettingsDurability : public ::testing::Test {
 protected:
  TemporaryFolder folder;
  std::filesystem::path file = folder / "defaults.plist";
};

} // namespace

TEST_F(SettingsDurability, KilledWriterLeavesOldOrNewValue) {
  killWritersAndCheck(
      folder.path(),
      [this](std::int64_t value) { return SettingsStore(file).set("VEDurabilityCounter", value); },
      [this]() -> std::optional<std::int64_t> {
        const auto value = SettingsStore(file).object("VEDurabilityCounter");
        if (!value) {
          return std::nullopt;
        }
        const auto* number = value->as<std::int64_t>();
        EXPECT_NE(number, nullptr) << "the value is no longer an integer";
        return number != nullptr ? *number : -1;
      });
}

TEST_F(SettingsDurability, KilledWriterLeavesOldOrNewMessageHistory) {
  const auto now = std::chrono::system_clock::now();
  killWritersAndCheck(
      folder.path(),
      [this, now](std::int64_t id) {
        SettingsStore store(file);
        MessageHistory(store).archive(id, "message " + std::to_string(id), now);
        return true;
      },
      [this, now]() -> std::optional<std::int64_t> {
        SettingsStore reader(file);
        const auto entries = MessageHistory(reader).entries(now);
        if (entries.empty()) {
          return std::nullopt;
        }
        EXPECT_EQ(entries.front().body, "message " + std::to_string(entries.front().id));
        EXPECT_LE(entries.size(), MessageHistory::maxEntries);
        return entries.front().id;
      });
}
