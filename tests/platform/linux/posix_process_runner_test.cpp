#include "platform/linux/posix_process_runner.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/temporary_folder.h"

namespace {

TEST(PosixProcessRunnerTest, GivesStandardOutputOfTheProgramItselfWhateverItsExitStatus) {
  TemporaryFolder folder;
  PosixProcessRunner runner;
  const std::pair<const char*, std::optional<std::string>> scripts[] = {
      {"printf '%s|' \"$@\"", "destinationinfo|-X|a b|$HOME|*|"}, // arguments verbatim
      {"exit 0", ""},
      {"echo partial; exit 3", "partial\n"},
      {"echo out; echo err >&2", "out\n"}, // standard error discarded
      {"cat; echo end", "end\n"},          // standard input empty
      // 2 MiB: the child blocks on a full pipe unless it is read before waiting.
      {"head -c 2097152 /dev/zero | tr '\\0' 'x'", std::string(2097152, 'x')}};
  for (const auto& [body, expected] : scripts) {
    std::ofstream(folder / "tool") << "#!/bin/sh\n" << body << "\n";
    ::chmod((folder / "tool").c_str(), 0755);
    EXPECT_EQ(
        runner.run((folder / "tool").string(), {"destinationinfo", "-X", "a b", "$HOME", "*"}),
        expected)
        << body;
  }
  ::chmod((folder / "tool").c_str(), 0644);
  // Neither a file that is not executable, nor a missing one, nor a name looked up in PATH.
  for (const std::string& program :
       {(folder / "tool").string(), (folder / "absent").string(), std::string("sh")}) {
    EXPECT_FALSE(runner.run(program, {"-c", "echo hi"}).has_value()) << program;
  }
  // A descriptor leaked without close-on-exec: the child gets only 0, 1, 2 (ls holds 3).
  const int careless = ::fcntl(::open("/dev/null", O_RDONLY | O_CLOEXEC), F_DUPFD, 100);
  ASSERT_GE(careless, 100);
  EXPECT_EQ(runner.run("/bin/ls", {"/proc/self/fd"}), "0\n1\n2\n3\n");
  ::close(careless);
}

} // namespace
