#include <signal.h>

#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/utf8_text.h"
#include "tests/core/crash/run_crash_child.h"
#include "tests/core/test_files.h"
#include "tests/support/temporary_folder.h"

namespace {

struct Record {
  std::string message;
  std::vector<std::string> stack;
  std::string stackText;
};

// The record the child left in the folder, checked for the shape every record has.
Record recordLeft(const std::filesystem::path& folder) {
  const std::string text = readFile(folder / "pending-crash.txt");
  EXPECT_TRUE(isValidUtf8(text));
  const auto separator = text.find("\n---\n");
  EXPECT_NE(separator, std::string::npos) << text;
  Record record;
  record.message = text.substr(0, separator);
  if (separator != std::string::npos) {
    record.stackText = text.substr(separator + 5);
    std::istringstream lines(record.stackText);
    for (std::string line; std::getline(lines, line);) {
      EXPECT_FALSE(line.empty());
      record.stack.push_back(line);
    }
  }
  EXPECT_FALSE(record.stack.empty());
  EXPECT_LE(record.stack.size(), 30u);
  EXPECT_FALSE(record.stackText.ends_with("\n")) << "no line feed after the last line";
  return record;
}

TEST(CrashCapture, EachWayOfCrashingLeavesItsRecordAloneAndEndsByItsUsualSignal) {
  constexpr int shallow = -1; // fewer than the 30 lines kept
  struct Case {
    const char* mode;
    int signal;
    std::string message;
    int stackLines; // 0: any number up to 30
    std::vector<std::string> mentions;
  };
  const std::string fire = "Exception: std::runtime_error : disk on fire";
  const std::string boundary = "varneloChildBoundary";
  const Case cases[] = {
      {"throw", SIGABRT, fire, 0, {"varneloChildThrowsDeepInside"}},
      // The noexcept boundary unwinds the throwing frames before terminating: the stack is the
      // one where the exception was thrown.
      {"throw-through-noexcept", SIGABRT, fire, 0, {"varneloChildThrowsDeepInside", boundary}},
      {"throw-in-thread", SIGABRT, fire, 0, {"varneloChildThrowsDeepInside"}},
      {"throw-int", SIGABRT, "Exception: int : ", 0, {}},
      {"segfault", SIGSEGV, "Signal 11", shallow, {"varneloChildFaults"}},
      {"segfault-deep", SIGSEGV, "Signal 11", 30, {}},
      {"stack-overflow", SIGSEGV, "Signal 11", 30, {}}, // captured on the spare stack
      {"abort", SIGABRT, "Signal 6", 0, {}},
      {"segfault-after-removing-folder", SIGSEGV, "Signal 11", 0, {}},
  };
  for (const Case& each : cases) {
    SCOPED_TRACE(each.mode);
    TemporaryFolder folder;
    const int status = runCrashChild({(folder / "VarneloEject").string(), each.mode});
    EXPECT_TRUE(endsBySignal(status, each.signal)) << status;
    const Record record = recordLeft(folder / "VarneloEject");
    EXPECT_EQ(record.message, each.message);
    if (each.stackLines == shallow) {
      EXPECT_LT(record.stack.size(), 30u) << "a shallow stack is written whole";
    } else if (each.stackLines > 0) {
      EXPECT_EQ(record.stack.size(), static_cast<std::size_t>(each.stackLines));
    }
    for (const std::string& name : each.mentions) {
      EXPECT_NE(record.stackText.find(name), std::string::npos) << name << "\n" << record.stackText;
    }
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder / "VarneloEject")) {
      names.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(names, std::vector<std::string>{"pending-crash.txt"}) << "no temporary file left";
  }
}

TEST(CrashCapture, NewCrashReplacesARecordTheStartCouldNotRead) {
  TemporaryFolder folder;
  // Not UTF-8, so the start-up upload leaves it where it is.
  writeFile(folder / "VarneloEject" / "pending-crash.txt", "Signal 4\n---\nold \xff stack");

  const int status = runCrashChild({(folder / "VarneloEject").string(), "segfault"});

  EXPECT_TRUE(endsBySignal(status, SIGSEGV)) << status;
  EXPECT_EQ(recordLeft(folder / "VarneloEject").message, "Signal 11");
  EXPECT_EQ(readFile(folder / "VarneloEject" / "pending-crash.txt").find("old"), std::string::npos);
}

} // namespace
