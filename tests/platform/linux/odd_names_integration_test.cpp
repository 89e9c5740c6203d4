// Volumes with awkward names, end to end on real loop devices: spaces, quotes, "%@" and braces,
// an ampersand, right-to-left text, emoji, and a 255-byte name (no label: the name comes from the
// mount folder). Each is listed as it is, counted in the summary and ejected by its name.

#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "app/cli/linux_platform.h"
#include "core/eject_engine.h"
#include "core/localization.h"
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

  std::optional<nlohmann::json> entryFor(const nlohmann::json& list,
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

TEST_F(OddNames, ListJson_ShowsEveryNameAndMountPathVerbatim) {
  const auto run = runProgram({"list", "--json"});
  ASSERT_EQ(run.status, 0) << run.output;
  const auto list = nlohmann::json::parse(run.output, nullptr, false);
  ASSERT_TRUE(list.is_array()) << run.output;
  const auto names = oddNames();
  for (std::size_t index = 0; index < names.size(); ++index) {
    const auto entry = entryFor(list, volumes_[index]->mountPath());
    ASSERT_TRUE(entry.has_value()) << "not listed: " << names[index].shown;
    EXPECT_EQ((*entry)["name"], names[index].shown);
  }
}

TEST_F(OddNames, ListText_GivesEachNameWithItsMountPathOnOneLine) {
  const auto run = runProgram({"list"});
  ASSERT_EQ(run.status, 0) << run.output;
  std::vector<std::string> lines;
  std::istringstream text(run.output);
  for (std::string line; std::getline(text, line);) {
    lines.push_back(line);
  }
  const auto names = oddNames();
  for (std::size_t index = 0; index < names.size(); ++index) {
    const std::string start = names[index].shown + "\t";
    const std::string end = "\t" + volumes_[index]->mountPath().string();
    const auto line = std::find_if(lines.begin(), lines.end(), [&](const std::string& candidate) {
      return candidate.starts_with(start);
    });
    ASSERT_NE(line, lines.end()) << "no line for " << names[index].shown << ":\n" << run.output;
    EXPECT_TRUE(line->ends_with(end)) << *line;
  }
}

TEST_F(OddNames, Engine_ListsAndSummarisesThemAll) {
  LinuxPlatform platform;
  std::vector<EjectableVolume> ours;
  for (const auto& volume : platform.engine().volumes()) {
    if (volume.id.rfind(folder_.path().string() + "/", 0) == 0) {
      ours.push_back(volume);
    }
  }
  const auto names = oddNames();
  ASSERT_EQ(ours.size(), names.size());
  for (const auto& name : names) {
    EXPECT_TRUE(std::any_of(ours.begin(), ours.end(),
                            [&](const EjectableVolume& v) { return v.name == name.shown; }))
        << "the engine lost " << name.shown;
  }
  EXPECT_EQ(EjectEngine::resume(ours),
            L("eject.images_mounted_other", static_cast<std::int64_t>(names.size())));
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
