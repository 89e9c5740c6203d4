#include "cli/command_line.h"

#include <iostream>
#include <sstream>

#include <gtest/gtest.h>

#include "cli/eject_commands.h"
#include "core/localization.h"
#include "core/settings.h"
#include "platform/fake/fake_disk_describer.h"
#include "platform/fake/fake_ejector.h"
#include "platform/fake/fake_process_runner.h"
#include "platform/fake/fake_volume_source.h"
#include "tests/support/temporary_folder.h"

namespace {

// The status (none: the desktop's), standard output and standard error of one command line.
std::tuple<std::optional<int>, std::string, std::string> run(std::vector<std::string> arguments) {
  std::ostringstream out;
  std::ostringstream err;
  auto* const savedOut = std::cout.rdbuf(out.rdbuf());
  auto* const savedErr = std::cerr.rdbuf(err.rdbuf());
  const auto status = runCommandLine(arguments, {ejectCommand, ejectAllCommand});
  std::cout.rdbuf(savedOut);
  std::cerr.rdbuf(savedErr);
  return {status, out.str(), err.str()};
}

TEST(CommandLine, WrongCommandLinesExitTwoWithTheUsageOnStandardErrorOthersGoToTheDesktop) {
  for (const std::vector<std::string>& arguments :
       std::vector<std::vector<std::string>>{{"--bogus"},
                                             {"-platformx"},
                                             {"list", "--jsn"},
                                             {"list", "--json", "x"},
                                             {"eject"},
                                             {"eject", ""},
                                             {"eject", "A", "B"},
                                             {"eject-all", "now"},
                                             {"\x1b[2J"}}) {
    const auto [status, out, err] = run(arguments);
    EXPECT_EQ(status, 2) << arguments.back();
    EXPECT_EQ(out, "") << arguments.back();
    EXPECT_NE(err.find(L("cli.usage")), std::string::npos) << arguments.back();
    EXPECT_EQ(err.find('\x1b'), std::string::npos) << "printed raw: " << arguments.back();
  }
  for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
           {}, {"-platform", "offscreen"}, {"--platform", "xcb"}, {"-reverse"}}) {
    EXPECT_EQ(std::get<0>(run(arguments)), std::nullopt);
  }
}

// A refusal outweighs a drive left powered, whichever of the two comes first.
TEST(EjectAll, ARefusalBesideAPartialResultExitsAsRefused) {
  for (const char* refused : {"/media/ana/A", "/media/ana/B"}) {
    FakeVolumeSource source;
    FakeDiskDescriber describer;
    FakeProcessRunner runner;
    FakeEjector ejector;
    LoopDispatcher dispatcher;
    TemporaryFolder folder;
    SettingsStore store{folder / "defaults.plist"};
    Settings settings{store};
    EjectEngine engine{{source, describer, runner, ejector, dispatcher, nullptr, "/none", {}},
                       settings};
    source.setVolumes({{"/media/ana/A", FakeVolumeSource::external("A")},
                       {"/media/ana/B", FakeVolumeSource::external("B")}});
    EjectOutcome partial;
    partial.success = true;
    partial.leftUndone = EjectOutcome::LeftUndone::powerOff;
    ejector.setOutcome(refused[11] == 'A' ? "/media/ana/B" : "/media/ana/A", partial);
    ejector.setFailure(refused, "org.freedesktop.UDisks2.Error.DeviceBusy: busy");
    engine.refresh();
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(ejectAllVolumes(engine, dispatcher, {out, err}), exit_status::refused) << out.str();
    EXPECT_EQ(ejector.ejectedPaths().size(), 2u) << refused;
  }
}

} // namespace
