// Volumes with awkward names, end to end on real loop devices: spaces, quotes, "%@" and braces,
// an ampersand, right-to-left text, emoji, and a 255-byte name (no label: the name comes from the
// mount folder). Each is listed as it is, counted in the summary and ejected by its name.

#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "app/cli/linux_platform.h"
#include "core/eject_engine.h"
#include "tests/platform/linux/discovery_test_volumes.h"
#include "tests/platform/linux/odd_volume.h"
#include "tests/support/temporary_folder.h"

namespace {

using odd_volume::longName;
using odd_volume::oddNames;
using odd_volume::OddVolume;

struct ProgramRun {
  int status = -1;
  std::string output;
};

class OddNames : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!privateMounts_.error().empty()) {
      GTEST_SKIP() << privateMounts_.error();
    }
    ASSERT_EQ(longName().size(), 255u);
    std::string whyNot;
    volumes_ = odd_volume::createOddVolumes(folder_.path(), whyNot);
    if (volumes_.empty()) {
      GTEST_SKIP() << whyNot;
    }
  }

  // The built program, with no system bus: as root it unmounts by itself.
  ProgramRun runProgram(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv{VARNELO_CLI_PATH};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const std::string bus = "DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + (folder_ / "no-bus").string();
    std::vector<std::string> command{"/usr/bin/env", bus};
    command.insert(command.end(), argv.begin(), argv.end());
    const auto result = discovery_test::runCommand(command);
    return {result.status, result.output};
  }

  static std::optional<nlohmann::json> entryFor(const nlohmann::json& list,
                                                const std::filesystem::path& mountPath) {
    for (const auto& entry : list) {
      if (entry.value("id", "") == mountPath.string()) {
        return entry;
      }
    }
    return std::nullopt;
  }

  discovery_test::PrivateMountNamespace privateMounts_;
  TemporaryFolder folder_;
  std::vector<std::unique_ptr<OddVolume>> volumes_;
};

} // namespace

TEST_F(OddNames, List_ShowsEveryNameVerbatimBesideItsMountPathAndCountsThemAll) {
  const auto json = runProgram({"list", "--json"});
  const auto text = runProgram({"list"});
  ASSERT_EQ(json.status + text.status, 0) << json.output << text.output;
  const auto list = nlohmann::json::parse(json.output, nullptr, false);
  ASSERT_TRUE(list.is_array()) << json.output;
  const auto names = oddNames();
  for (std::size_t index = 0; index < names.size(); ++index) {
    const auto entry = entryFor(list, volumes_[index]->mountPath());
    ASSERT_TRUE(entry.has_value()) << "not listed: " << names[index].shown;
    EXPECT_EQ((*entry)["name"], names[index].shown);
    const std::string line = "\n" + names[index].shown + "\t";
    const auto start = ("\n" + text.output).find(line);
    ASSERT_NE(start, std::string::npos) << names[index].shown << ":\n" << text.output;
    const auto end = text.output.find('\n', start);
    EXPECT_TRUE(
        text.output.substr(start, end - start).ends_with(volumes_[index]->mountPath().string()));
  }
  LinuxPlatform platform;
  const auto ours =
      std::count_if(platform.engine().volumes().begin(), platform.engine().volumes().end(),
                    [&](const EjectableVolume& volume) {
                      return volume.id.starts_with(folder_.path().string());
                    });
  EXPECT_EQ(ours, static_cast<long>(names.size()));
}

TEST_F(OddNames, EjectByName_EjectsEachOneAndOnlyIt) {
  const auto names = oddNames();
  for (std::size_t index = 0; index < names.size(); ++index) {
    const auto run = runProgram({"eject", names[index].shown});
    EXPECT_EQ(run.status, 0) << names[index].shown << ": " << run.output;
    EXPECT_EQ(run.output, "ejected " + names[index].shown + "\n");
    EXPECT_FALSE(volumes_[index]->mounted()) << names[index].shown;
    EXPECT_TRUE(volumes_[index]->waitUntilDetached()) << names[index].shown;
    for (std::size_t later = index + 1; later < names.size(); ++later) {
      EXPECT_TRUE(volumes_[later]->mounted())
          << "ejecting " << names[index].shown << " also took " << names[later].shown;
    }
  }
  for (const auto& volume : volumes_) {
    EXPECT_TRUE(volume->imageIntact()) << volume->mountPath();
  }
}
