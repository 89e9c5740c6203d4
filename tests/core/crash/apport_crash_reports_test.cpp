#include "platform/linux/apport_crash_reports.h"

#include <unistd.h>

#include <fstream>

#include <gtest/gtest.h>

#include "tests/support/temporary_folder.h"

namespace {

class ApportCrashReportsTest : public ::testing::Test {
 protected:
  std::filesystem::path report(const std::string& name) {
    const auto path = folder / name;
    std::ofstream(path) << "ProblemType: Crash\n";
    return path;
  }

  TemporaryFolder folder;
  ApportCrashReports reports{folder.path(), "varnelo-eject", getuid()};
};

TEST_F(ApportCrashReportsTest, ScansTheGivenFolderWithALinuxFallbackMessage) {
  EXPECT_EQ(reports.folder(), folder.path());
  EXPECT_EQ(ApportCrashReports().folder(), std::filesystem::path("/var/crash"));
  EXPECT_EQ(reports.fallbackMessage().find("macOS"), std::string::npos);
}

TEST_F(ApportCrashReportsTest, TakesThisUsersReportsOfTheProgramWhereverInstalledAndNoOthers) {
  const std::string user = std::to_string(getuid());
  const std::string other = std::to_string(getuid() + 1);
  EXPECT_TRUE(reports.belongsToThisProgram(report("_usr_bin_varnelo-eject." + user + ".crash")));
  EXPECT_TRUE(
      reports.belongsToThisProgram(report("_home_ana_build_bin_varnelo-eject." + user + ".crash")));
  for (const std::string& name :
       {"_usr_bin_other-app." + user + ".crash", "_usr_bin_varnelo-eject-helper." + user + ".crash",
        "_usr_bin_varnelo-eject." + other + ".crash", "_usr_bin_varnelo-eject." + user + ".upload",
        "_usr_bin_varnelo-eject." + user + ".uploaded", "varnelo-eject." + user + ".crash",
        std::string("_usr_bin_varnelo-eject.crash")}) {
    EXPECT_FALSE(reports.belongsToThisProgram(report(name))) << name;
  }
}

TEST_F(ApportCrashReportsTest, LeavesLinksAndFilesThatDoNotExist) {
  const std::string name = "_usr_bin_varnelo-eject." + std::to_string(getuid()) + ".crash";
  std::filesystem::create_symlink("/etc/hostname", folder / name);
  EXPECT_FALSE(reports.belongsToThisProgram(folder / name));

  TemporaryFolder empty;
  EXPECT_FALSE(ApportCrashReports(empty.path()).belongsToThisProgram(empty / name));
}

} // namespace
