#include "platform/linux/apport_crash_reports.h"

#include <gtest/gtest.h>

#include "tests/core/test_files.h"
#include "tests/support/temporary_folder.h"

namespace {

TEST(ApportCrashReports, TakesOnlyThisUsersRegularReportsOfTheProgramWhereverInstalled) {
  TemporaryFolder folder;
  const std::string user = std::to_string(getuid());
  const std::string other = std::to_string(getuid() + 1);
  const std::pair<std::string, bool> names[] = {
      {"_usr_bin_varnelo-eject." + user + ".crash", true},
      {"_home_ana_build_bin_varnelo-eject." + user + ".crash", true},
      {"_usr_bin_other-app." + user + ".crash", false},
      {"_usr_bin_varnelo-eject-helper." + user + ".crash", false},
      {"_usr_bin_varnelo-eject." + other + ".crash", false},
      {"_usr_bin_varnelo-eject." + user + ".uploaded", false},
      {"varnelo-eject." + user + ".crash", false}};
  ApportCrashReports reports(folder.path(), "varnelo-eject", getuid());
  for (const auto& [name, ours] : names) {
    writeFile(folder / name, "ProblemType: Crash\n");
    EXPECT_EQ(reports.belongsToThisProgram(folder / name), ours) << name;
  }
  std::filesystem::create_symlink("/etc/hostname",
                                  folder / ("_bin_varnelo-eject." + user + ".crash"));
  EXPECT_FALSE(reports.belongsToThisProgram(folder / ("_bin_varnelo-eject." + user + ".crash")));
  EXPECT_FALSE(reports.belongsToThisProgram(folder / ("_x_varnelo-eject." + user + ".crash")));
  EXPECT_EQ(ApportCrashReports().folder(), std::filesystem::path("/var/crash"));
}

} // namespace
