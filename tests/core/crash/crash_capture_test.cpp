#include <signal.h>
#include <sys/mman.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "core/utf8_text.h"
#include "core/crash/crash_reporter.h"
#include "core/settings_store.h"
#include "platform/linux/curl_http_transport.h"
#include "tests/core/test_files.h"
#include "tests/support/temporary_folder.h"

namespace {

// Not static, not inlined: their names must show in the recorded stack.
extern "C" __attribute__((noinline)) void varneloChildThrowsDeepInside(int depth) {
  if (depth > 0) {
    varneloChildThrowsDeepInside(depth - 1);
    asm volatile("");
    return;
  }
  throw std::runtime_error("disk on fire");
}

extern "C" __attribute__((noinline)) void varneloChildBoundary() noexcept {
  varneloChildThrowsDeepInside(3);
}

extern "C" __attribute__((noinline)) void varneloChildFaults() {
  // A page nobody may touch: a real fault, and not one a sanitizer reports first.
  void* page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  *static_cast<volatile int*>(page) = 1;
}

volatile int varneloChildStopDepth = -1; // never reached: the recursion is not provably endless

extern "C" __attribute__((noinline)) int varneloChildRecursesForever(int depth) {
  if (depth == varneloChildStopDepth) {
    return 0;
  }
  volatile char frame[512];
  frame[0] = static_cast<char>(depth);
  const int deeper = varneloChildRecursesForever(depth + 1);
  asm volatile("" : : "r"(frame) : "memory");
  return deeper + frame[0];
}

// In a child of the test: catches crashes into `folder`, then fails as `mode` asks. Nothing
// thrown gets past it to the test framework: it ends in std::terminate as in the program.
void crashAs(const std::filesystem::path& folder, const std::string& mode) noexcept {
  static CurlHttpTransport transport;
  static SettingsStore store(folder.parent_path() / "child-defaults.plist");
  CrashReporter::configure({folder, transport, store, "http://127.0.0.1:1/"});
  CrashReporter::installHandlers();
  if (mode == "throw") {
    varneloChildThrowsDeepInside(3);
  } else if (mode == "throw-through-noexcept") {
    varneloChildBoundary();
  } else if (mode == "throw-int") {
    [] { throw 42; }();
  } else if (mode == "throw-in-thread") {
    std::thread([] { varneloChildThrowsDeepInside(1); }).join();
  } else if (mode == "segfault") {
    varneloChildFaults();
  } else if (mode == "segfault-after-removing-folder") {
    std::filesystem::remove_all(folder);
    varneloChildFaults();
  } else if (mode == "stack-overflow") {
    varneloChildRecursesForever(0);
  } else if (mode == "abort") {
    std::abort();
  }
}

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
      // Captured on the spare stack, and cut to 30 lines.
      {"stack-overflow", SIGSEGV, "Signal 11", 30, {}},
      {"abort", SIGABRT, "Signal 6", 0, {}},
      {"segfault-after-removing-folder", SIGSEGV, "Signal 11", 0, {}}};
  for (const auto& [mode, signal, message, lines, names] : cases) {
    SCOPED_TRACE(mode);
    TemporaryFolder folder;
    // A record the last start could not read (not UTF-8) is replaced.
    writeFile(folder / "VarneloEject/pending-crash.txt", "Signal 4\n---\nold \xff stack");
    EXPECT_EXIT(crashAs(folder / "VarneloEject", mode), testing::KilledBySignal(signal), "");
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
