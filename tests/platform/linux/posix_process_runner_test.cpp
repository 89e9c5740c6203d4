#include "platform/linux/posix_process_runner.h"

#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/temporary_folder.h"

namespace {

class PosixProcessRunnerTest : public ::testing::Test {
 protected:
  std::string script(const std::string& name, const std::string& body) {
    const auto path = folder_ / name;
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    chmod(path.c_str(), 0755);
    return path.string();
  }

  TemporaryFolder folder_;
  PosixProcessRunner runner_;
};

} // namespace

TEST_F(PosixProcessRunnerTest, ReturnsStandardOutputAndPassesArgumentsVerbatim) {
  const auto tool = script("tool", "printf '%s|' \"$@\"");
  EXPECT_EQ(runner_.run(tool, {"destinationinfo", "-X", "a b", "$HOME", "*"}),
            "destinationinfo|-X|a b|$HOME|*|");
}

TEST_F(PosixProcessRunnerTest, ReadsOutputLargerThanThePipeBuffer) {
  // 2 MiB: the child blocks on a full pipe unless we read before waiting.
  const auto tool = script("big", "head -c 2097152 /dev/zero | tr '\\0' 'x'");
  const auto output = runner_.run(tool, {});
  ASSERT_TRUE(output.has_value());
  EXPECT_EQ(output->size(), 2097152u);
  EXPECT_EQ(output->find_first_not_of('x'), std::string::npos);
}

TEST_F(PosixProcessRunnerTest, NoOutputIsAnEmptyTextNotNothing) {
  EXPECT_EQ(runner_.run(script("quiet", "exit 0"), {}), "");
}

TEST_F(PosixProcessRunnerTest, NonZeroExitStillGivesTheOutput) {
  EXPECT_EQ(runner_.run(script("fails", "echo partial; exit 3"), {}), "partial\n");
}

TEST_F(PosixProcessRunnerTest, StandardErrorIsDiscarded) {
  EXPECT_EQ(runner_.run(script("noisy", "echo out; echo err >&2"), {}), "out\n");
}

TEST_F(PosixProcessRunnerTest, StandardInputIsEmpty) {
  EXPECT_EQ(runner_.run(script("reader", "cat; echo end"), {}), "end\n");
}

TEST_F(PosixProcessRunnerTest, MissingOrNonExecutableFileCannotStart) {
  EXPECT_FALSE(runner_.run((folder_ / "absent").string(), {}).has_value());
  const auto plain = folder_ / "plain";
  std::ofstream(plain) << "#!/bin/sh\necho hi\n";
  EXPECT_FALSE(runner_.run(plain.string(), {}).has_value());
}

TEST_F(PosixProcessRunnerTest, NameWithoutPathIsNotLookedUpInPath) {
  EXPECT_FALSE(runner_.run("sh", {"-c", "echo hi"}).has_value());
}

TEST_F(PosixProcessRunnerTest, ChildGetsOnlyTheThreeStandardDescriptors) {
  // As if some library had opened a file without close-on-exec.
  const int careless = fcntl(open("/dev/null", O_RDONLY | O_CLOEXEC), F_DUPFD, 100);
  ASSERT_GE(careless, 100);
  const auto output = runner_.run("/bin/ls", {"/proc/self/fd"});
  close(careless);
  // ls itself holds one more, for the folder it lists.
  EXPECT_EQ(output, "0\n1\n2\n3\n");
}
