#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/utf8_text.h"
#include "tests/support/temporary_folder.h"

extern char** environ;

namespace {

// Runs the crash child to its end; returns its wait status.
int runChild(const std::filesystem::path& folder, const std::string& mode,
             const std::string& url = {}) {
  std::vector<std::string> arguments{VARNELO_CRASH_CHILD, folder.string(), mode};
  if (!url.empty()) {
    arguments.push_back(url);
  }
  std::vector<char*> argv;
  for (auto& argument : arguments) {
    argv.push_back(argument.data());
  }
  argv.push_back(nullptr);
  pid_t child = 0;
  if (posix_spawn(&child, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
    ADD_FAILURE() << "could not start " << argv[0];
    return -1;
  }
  int status = 0;
  waitpid(child, &status, 0);
  return status;
}

std::optional<std::string> readFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    return std::nullopt;
  }
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

struct Record {
  std::string message;
  std::vector<std::string> stack;
  std::string stackText;
};

Record parse(const std::string& text) {
  Record record;
  const auto separator = text.find("\n---\n");
  record.message = text.substr(0, separator);
  if (separator != std::string::npos) {
    record.stackText = text.substr(separator + 5);
    std::istringstream lines(record.stackText);
    for (std::string line; std::getline(lines, line);) {
      record.stack.push_back(line);
    }
  }
  return record;
}

bool endsBySignal(int status, int number) {
  return WIFSIGNALED(status) && WTERMSIG(status) == number;
}

class CrashCaptureTest : public ::testing::Test {
 protected:
  std::filesystem::path pendingFile() const {
    return folder / "VarneloEject" / "pending-crash.txt";
  }

  // The record the child left, checked for the shape every record has.
  Record recordLeft() {
    const auto text = readFile(pendingFile());
    if (!text) {
      ADD_FAILURE() << "no pending record at " << pendingFile();
      return {};
    }
    EXPECT_TRUE(isValidUtf8(*text));
    EXPECT_NE(text->find("\n---\n"), std::string::npos) << *text;
    const Record record = parse(*text);
    EXPECT_FALSE(record.stack.empty());
    EXPECT_LE(record.stack.size(), 30u);
    EXPECT_FALSE(record.stackText.ends_with("\n")) << "no line feed after the last line";
    for (const auto& line : record.stack) {
      EXPECT_FALSE(line.empty());
    }
    return record;
  }

  TemporaryFolder folder;
};

bool mentions(const Record& record, const std::string& name) {
  return record.stackText.find(name) != std::string::npos;
}

TEST_F(CrashCaptureTest, UncaughtExceptionLeavesItsTypeAndReasonThenAbortsAsUsual) {
  const int status = runChild(folder / "VarneloEject", "throw");

  EXPECT_TRUE(endsBySignal(status, SIGABRT)) << status;
  const Record record = recordLeft();
  EXPECT_EQ(record.message, "Exception: std::runtime_error : disk on fire");
  EXPECT_TRUE(mentions(record, "varneloChildThrowsDeepInside")) << record.stackText;
}

TEST_F(CrashCaptureTest, UncaughtExceptionRecordsTheStackWhereItWasThrown) {
  // The noexcept boundary unwinds the throwing frames before terminating.
  const int status = runChild(folder / "VarneloEject", "throw-through-noexcept");

  EXPECT_TRUE(endsBySignal(status, SIGABRT)) << status;
  const Record record = recordLeft();
  EXPECT_EQ(record.message, "Exception: std::runtime_error : disk on fire");
  EXPECT_TRUE(mentions(record, "varneloChildThrowsDeepInside")) << record.stackText;
  EXPECT_TRUE(mentions(record, "varneloChildBoundary")) << record.stackText;
}

TEST_F(CrashCaptureTest, ExceptionWithoutReasonEndsInSpaceColonSpace) {
  const int status = runChild(folder / "VarneloEject", "throw-int");

  EXPECT_TRUE(endsBySignal(status, SIGABRT)) << status;
  EXPECT_EQ(recordLeft().message, "Exception: int : ");
}

TEST_F(CrashCaptureTest, ExceptionOnAnotherThreadIsCaptured) {
  const int status = runChild(folder / "VarneloEject", "throw-in-thread");

  EXPECT_TRUE(endsBySignal(status, SIGABRT)) << status;
  const Record record = recordLeft();
  EXPECT_EQ(record.message, "Exception: std::runtime_error : disk on fire");
  EXPECT_TRUE(mentions(record, "varneloChildThrowsDeepInside")) << record.stackText;
}

TEST_F(CrashCaptureTest, SegmentationFaultLeavesSignal11AndEndsByThatSignal) {
  const int status = runChild(folder / "VarneloEject", "segfault");

  EXPECT_TRUE(endsBySignal(status, SIGSEGV)) << status;
  const Record record = recordLeft();
  EXPECT_EQ(record.message, "Signal 11");
  EXPECT_LT(record.stack.size(), 30u) << "a shallow stack is written whole";
  EXPECT_TRUE(mentions(record, "varneloChildFaults")) << record.stackText;
}

TEST_F(CrashCaptureTest, DeepStackIsCutToItsFirst30Lines) {
  const int status = runChild(folder / "VarneloEject", "segfault-deep");

  EXPECT_TRUE(endsBySignal(status, SIGSEGV)) << status;
  const Record record = recordLeft();
  EXPECT_EQ(record.message, "Signal 11");
  EXPECT_EQ(record.stack.size(), 30u);
}

TEST_F(CrashCaptureTest, StackOverflowIsCapturedOnTheSpareStack) {
  const int status = runChild(folder / "VarneloEject", "stack-overflow");

  EXPECT_TRUE(endsBySignal(status, SIGSEGV)) << status;
  const Record record = recordLeft();
  EXPECT_EQ(record.message, "Signal 11");
  EXPECT_EQ(record.stack.size(), 30u);
}

TEST_F(CrashCaptureTest, AbortLeavesSignal6) {
  const int status = runChild(folder / "VarneloEject", "abort");

  EXPECT_TRUE(endsBySignal(status, SIGABRT)) << status;
  EXPECT_EQ(recordLeft().message, "Signal 6");
}

TEST_F(CrashCaptureTest, NewCrashReplacesARecordTheStartCouldNotRead) {
  // Not UTF-8, so the start-up upload leaves it where it is.
  std::filesystem::create_directories(pendingFile().parent_path());
  std::ofstream(pendingFile(), std::ios::binary) << "Signal 4\n---\nold \xff stack";

  const int status = runChild(folder / "VarneloEject", "segfault");

  EXPECT_TRUE(endsBySignal(status, SIGSEGV)) << status;
  EXPECT_EQ(recordLeft().message, "Signal 11");
  EXPECT_EQ(readFile(pendingFile())->find("old"), std::string::npos);
}

TEST_F(CrashCaptureTest, CaptureCreatesTheFolderWhenItIsMissing) {
  const int status = runChild(folder / "VarneloEject", "segfault-after-removing-folder");

  EXPECT_TRUE(endsBySignal(status, SIGSEGV)) << status;
  EXPECT_EQ(recordLeft().message, "Signal 11");
}

TEST_F(CrashCaptureTest, CaptureLeavesNoTemporaryFileBehind) {
  runChild(folder / "VarneloEject", "segfault");

  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder / "VarneloEject")) {
    names.push_back(entry.path().filename().string());
  }
  EXPECT_EQ(names, std::vector<std::string>{"pending-crash.txt"});
}

} // namespace
