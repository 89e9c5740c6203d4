#include "app/cli/command_line.h"

#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/cli/eject_commands.h"
#include "core/localization.h"

namespace {

// What one command line did: its status (none: the desktop's), and what it wrote.
struct Outcome {
  std::optional<int> status;
  std::string out;
  std::string err;
};

Outcome run(const std::vector<std::string>& arguments) {
  std::ostringstream out;
  std::ostringstream err;
  auto* const savedOut = std::cout.rdbuf(out.rdbuf());
  auto* const savedErr = std::cerr.rdbuf(err.rdbuf());
  Outcome result{runCommandLine(arguments, {ejectCommand, ejectAllCommand}), {}, {}};
  std::cout.rdbuf(savedOut);
  std::cerr.rdbuf(savedErr);
  result.out = out.str();
  result.err = err.str();
  return result;
}

TEST(CommandLine, WrongCommandLinesExitTwoWithTheUsageOnStandardError) {
  const std::string usage = L("cli.usage");
  for (const std::vector<std::string>& arguments :
       std::vector<std::vector<std::string>>{{"--bogus"},
                                             {"lsit"},
                                             {"-platformx"},
                                             {"list", "--jsn"},
                                             {"list", "--json", "x"},
                                             {"eject"},
                                             {"eject", ""},
                                             {"eject", "A", "B"},
                                             {"eject-all", "now"}}) {
    const Outcome result = run(arguments);
    EXPECT_EQ(result.status, 2) << arguments.back();
    EXPECT_TRUE(result.out.empty()) << arguments.back();
    EXPECT_NE(result.err.find(usage), std::string::npos) << arguments.back();
  }
  // The offending text is shown escaped.
  EXPECT_NE(run({"\x1b[2J"}).err.find("'\\x1b[2J'"), std::string::npos);
}

TEST(CommandLine, NoCommandOrTheToolkitsOwnOptionsAreForTheDesktop) {
  for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
           {}, {"-platform", "offscreen"}, {"--platform", "xcb"}, {"-reverse"}}) {
    EXPECT_EQ(run(arguments).status, std::nullopt);
  }
  const Outcome help = run({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out, L("cli.usage"));
}

} // namespace
