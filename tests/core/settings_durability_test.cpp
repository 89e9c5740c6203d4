// A writer killed at any moment leaves a settings file that parses and holds either the value
// it held before the interrupted write or the value being written; never a broken file.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
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

constexpr int kills = 200;
constexpr const char* counterKey = "VEDurabilityCounter";

// Runs write(n) for n = first, first + 1, ... in a child process, which reports each finished
// write on a pipe, and kills it with SIGKILL after a random delay. Returns the last value the
// child reported as written, or nothing when it reported none.
struct KilledWriter {
  std::optional<std::int64_t> lastConfirmed;
  int status = 0;
};

KilledWriter runAndKill(std::int64_t first, std::chrono::microseconds delay,
                        const std::function<bool(std::int64_t)>& write) {
  int channel[2];
  if (::pipe2(channel, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe: " << std::strerror(errno);
    return {};
  }
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(channel[0]);
    for (std::int64_t value = first;; ++value) {
      if (!write(value)) {
        ::_exit(3);
      }
      if (::write(channel[1], &value, sizeof value) != sizeof value) {
        ::_exit(4);
      }
    }
  }
  ::close(channel[1]);
  std::this_thread::sleep_for(delay);
  ::kill(child, SIGKILL);
  KilledWriter result;
  ::waitpid(child, &result.status, 0);
  std::int64_t value = 0;
  while (::read(channel[0], &value, sizeof value) == sizeof value) {
    result.lastConfirmed = value;
  }
  ::close(channel[0]);
  return result;
}

bool corruptFileKeptAside(const std::filesystem::path& folder) {
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.path().filename().string().find(".corrupt-") != std::string::npos) {
      return true;
    }
  }
  return false;
}

class SettingsDurability : public ::testing::Test {
 protected:
  // Kills writers of 1, 2, 3... in turn; after each, the newest value read back must be the one
  // stored before that writer's unfinished write or the one it was writing.
  void killWritersAndCheck(const std::function<bool(std::int64_t)>& write,
                           const std::function<std::optional<std::int64_t>()>& readNewest) {
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("random seed " + std::to_string(seed));
    std::mt19937 random{seed};
    std::int64_t stored = 0; // what the file held before this round; 0: nothing yet
    for (int round = 0; round < kills; ++round) {
      SCOPED_TRACE("round " + std::to_string(round));
      // Up to 30 ms: from before the first write (process start-up) to several writes in.
      const auto delay =
          std::chrono::microseconds(std::uniform_int_distribution<int>(0, 30000)(random));
      const auto writer = runAndKill(stored + 1, delay, write);
      ASSERT_TRUE(WIFSIGNALED(writer.status) && WTERMSIG(writer.status) == SIGKILL)
          << "the writer ended by itself";

      const std::int64_t old = writer.lastConfirmed.value_or(stored);
      const auto found = readNewest();
      if (old == 0 && !found) {
        continue; // killed before its first write finished
      }
      ASSERT_TRUE(found) << "the file lost the value";
      ASSERT_TRUE(*found == old || *found == old + 1)
          << "found " << *found << ", expected " << old << " or " << old + 1;
      ASSERT_FALSE(corruptFileKeptAside(folder.path()));
      stored = *found;
    }
    // The writers got far enough to be killed amid writes, not only while starting.
    EXPECT_GE(stored, kills / 10);
  }

  TemporaryFolder folder;
  std::filesystem::path file = folder / "defaults.plist";
};

} // namespace

TEST_F(SettingsDurability, KilledWriterLeavesOldOrNewValue) {
  killWritersAndCheck(
      [this](std::int64_t value) { return SettingsStore(file).set(counterKey, value); },
      [this]() -> std::optional<std::int64_t> {
        const auto value = SettingsStore(file).object(counterKey);
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
