#include <signal.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/utf8_text.h"
#include "tests/core/crash/crash_rig.h"
#include "tests/core/test_files.h"
#include "tests/support/temporary_folder.h"

namespace {

TEST(CrashCapture, EachWayOfCrashingLeavesItsRecordAloneAndEndsByItsUsualSignal) {
  const std::string fire = "Exception: std::runtime_error : disk on fire";
  const std::string deep = "varneloChildThrowsDeepInside";
  // Mode, signal, message, stack lines (0: any up to 30, -1: fewer than 30), names in the stack.
  const std::tuple<const char*, int, std::string, int, std::vector<std::string>> cases[] = {
      {"throw", SIGABRT, fire, 0, {deep}},
      // The stack is where the exception was thrown, though the boundary unwound those frames.
      {"throw-through-noexcept", SIGABRT, fire, 0, {deep, "varneloChildBoundary"}},
      {"throw-in-thread", SIGABRT, fire, 0, {deep}},
      {"throw-int", SIGABRT, "Exception: int : ", 0, {}},
      {"segfault", SIGSEGV, "Signal 11", -1, {"varneloChildFaults"}},
      {"segfault-deep", SIGSEGV, "Signal 11", 30, {}},
      {"stack-overflow", SIGSEGV, "Signal 11", 30, {}}, // captured on the spare stack
      {"abort", SIGABRT, "Signal 6", 0, {}},
      {"segfault-after-removing-folder", SIGSEGV, "Signal 11", 0, {}}};
  for (const auto& [mode, signal, message, lines, names] : cases) {
    SCOPED_TRACE(mode);
    TemporaryFolder folder;
    // A record the last start could not read (not UTF-8) is replaced.
    writeFile(folder / "VarneloEject/pending-crash.txt", "Signal 4\n---\nold \xff stack");
    EXPECT_TRUE(endsBySignal(runCrashChild({(folder / "VarneloEject").string(), mode}), signal));
    const std::string text = readFile(folder / "VarneloEject/pending-crash.txt");
    ASSERT_TRUE(isValidUtf8(text));
    const auto separator = text.find("\n---\n");
    ASSERT_NE(separator, std::string::npos) << text;
    EXPECT_EQ(text.substr(0, separator), message);
    const std::string stack = text.substr(separator + 5);
    const auto count = std::count(stack.begin(), stack.end(), '\n') + 1;
    EXPECT_FALSE(stack.empty() || stack.ends_with("\n") || stack.find("\n\n") != std::string::npos);
    EXPECT_TRUE(lines == 0 ? count <= 30 : lines < 0 ? count < 30 : count == lines) << count;
    for (const std::string& name : names) {
      EXPECT_NE(stack.find(name), std::string::npos) << name << "\n" << stack;
    }
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(folder / "VarneloEject")) {
      left.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(left, std::vector<std::string>{"pending-crash.txt"}) << "no temporary file left";
  }
}

} // namespace
