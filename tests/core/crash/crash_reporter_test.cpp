#include "core/crash/crash_reporter.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>

#include <algorithm>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "core/settings.h"
#include "core/support/network_queue.h"
#include "core/utf8_text.h"
#include "tests/core/crash/crash_rig.h"
#include "tests/support/run_command.h"

namespace {

using namespace std::chrono_literals;
constexpr CrashRig::Date base = CrashRig::base;

TEST(CrashUpload, PendingRecord_IsSplitAtTheFirstSeparatorAndPostedBareOnce) {
  CrashRig rig;
  const std::tuple<std::string, std::string, std::string> cases[] = {
      {"Signal 11\n---\nframe 0\nframe 1", "Signal 11", "frame 0\nframe 1"},
      {"just a message\nover two lines", "just a message\nover two lines", ""},
      {"M\n---\nS in /home/ana/bin by ana\n---\ndropped", "M", "S in ~/bin by <user>"}};
  for (const auto& [record, message, stack] : cases) {
    writeFile(rig.pendingFile(), record);
    rig.launch();
  }
  writeFile(rig.pendingFile(), "Signal 11\n---\n\xff\xfe"); // not UTF-8: left where it is
  rig.launch();
  EXPECT_EQ(rig.recordsLeft(), 1u);
  rig.store->set("VEDeviceId", "1B4E28BA-2FA1-11D2-883F-0016D3CCA427");
  CrashReporter::reportError("settings could not be written");
  const auto bodies = rig.uploads();
  ASSERT_EQ(bodies.size(), 4u);
  for (std::size_t index = 0; index < 3; ++index) {
    EXPECT_EQ(bodies[index]["message"], std::get<1>(cases[index]));
    EXPECT_EQ(bodies[index]["stack"], std::get<2>(cases[index]));
    EXPECT_EQ(bodies[index]["d"], "?") << "the crash reporter never creates an identifier";
  }
  EXPECT_EQ(keysOf(bodies[0]), (std::set<std::string>{"d", "kind", "message", "stack", "v", "os"}));
  EXPECT_EQ(bodies[3]["kind"], "error");
  EXPECT_EQ(bodies[3]["d"], "1B4E28BA-2FA1-11D2-883F-0016D3CCA427");
  const std::string errorStack = bodies[3]["stack"];
  EXPECT_LE(std::count(errorStack.begin(), errorStack.end(), '\n'), 14);
}

TEST(CrashUpload, PendingRecord_KeptUntilA2xxAnswerForThreeLaunchesAndSentByOneCopyOnly) {
  CrashRig rig;
  // Endpoint, status, records left: refused, 500, then 204 over three launches.
  const std::tuple<std::string, int, std::size_t> launches[] = {
      {"http://127.0.0.1:1/crash", 200, 1},
      {"", 500, 1},
      {"", 204, 0}, // one record
      {"", 500, 1},
      {"", 500, 1},
      {"", 500, 0}}; // another
  for (std::size_t launch = 0; launch < 6; ++launch) {
    const auto& [endpoint, status, left] = launches[launch];
    if (launch % 3 == 0) {
      writeFile(rig.pendingFile(), "Signal 6\n---\nframe " + std::to_string(launch));
    }
    rig.configure(endpoint);
    rig.server.answer(status, "{}");
    rig.launch();
    EXPECT_EQ(rig.recordsLeft(), left) << launch;
  }
  EXPECT_EQ(rig.uploads().size(), 5u);
  // Another copy of the program is sending from the same folder: this one leaves it alone.
  rig.server.answer(200, "{}");
  writeFile(rig.pendingFile(), "Signal 6\n---\nframe");
  rig.writeReport("/usr/bin/varnelo-eject", "Signal: 6\n", base + 1s);
  const int otherCopy = open((rig.folder / "Crash").c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_EQ(flock(otherCopy, LOCK_EX), 0);
  rig.launch();
  EXPECT_EQ(rig.uploads().size(), 5u);
  close(otherCopy);
  CrashReporter::uploadAtStart();
  EXPECT_EQ(rig.uploads().size(), 7u);
}

TEST(CrashUpload, SystemReports_OfOurThreeProgramsAndOnlyTheirsMoveTheScanDateWhenDelivered) {
  CrashRig rig;
  rig.store->set("VELastCrashScan", base);
  const std::pair<std::string, CrashRig::Date> ours[] = {
      {"/usr/bin/varnelo-eject", base + 100s},
      {"/usr/libexec/varnelo-eject/varnelo-eject-desktop", base + 200s},
      {"/usr/libexec/varnelo-eject/varnelo-eject-ejector", base + 300s},
      {"/home/ana/build/bin/varnelo-eject", base + 400s},
      {"/opt/v/varnelo-eject", base}}; // not newer than the last scan
  for (const auto& [executable, date] : ours) {
    rig.writeReport(executable, "ExecutablePath: " + executable + "\n", date);
  }
  for (const char* other : {"/usr/bin/other-app", "/usr/bin/varnelo-eject-helper"}) {
    rig.writeReport(other, "ExecutablePath: x\n", base + 300s);
  }
  rig.writeReport("/usr/bin/varnelo-eject", "ExecutablePath: x\n", base + 300s, getuid() + 1);
  writeFile(rig.folder / "Reports/_usr_bin_varnelo-eject.crash", "ExecutablePath: x\n");
  std::filesystem::create_symlink(
      "/etc/hostname",
      rig.folder / ("Reports/_bin_varnelo-eject." + std::to_string(getuid()) + ".crash"));
  rig.writeReport("/x/varnelo-eject", "ExecutablePath: \xff\xfe\n", base + 50s); // not counted
  rig.server.answer(500, "{}");
  for (int launch = 1; launch <= 3; ++launch) {
    CrashReporter::uploadAtStart();
    EXPECT_EQ(rig.store->object("VELastCrashScan"), SettingsValue(launch < 3 ? base : base + 100s));
  }
  rig.server.answer(200, "{}");
  CrashReporter::uploadAtStart(); // three at most per launch
  EXPECT_EQ(rig.store->object("VELastCrashScan"), SettingsValue(base + 400s));
  std::multiset<std::string> sent;
  for (const auto& body : rig.uploads()) {
    sent.insert(body["stack"].get<std::string>().substr(16));
  }
  EXPECT_EQ(sent,
            (std::multiset<std::string>{"/usr/bin/varnelo-eject\n", "/usr/bin/varnelo-eject\n",
                                        "/usr/bin/varnelo-eject\n",
                                        "/usr/libexec/varnelo-eject/varnelo-eject-desktop\n",
                                        "/usr/libexec/varnelo-eject/varnelo-eject-ejector\n",
                                        "~/build/bin/varnelo-eject\n"}));
}

TEST(CrashUpload, ApportReport_SendsTheFramesWithoutArgumentsOrLocalsAndNothingPersonal) {
  CrashRig rig;
  rig.writeReport(
      "/usr/libexec/varnelo-eject/varnelo-eject-desktop",
      "ProblemType: Crash\nCoreDump: base64\n H4sICAAAAAAC/0NvcmVEdW1wAA==\n"
      "ExecutablePath: /usr/libexec/varnelo-eject/varnelo-eject-desktop\n"
      "Package: varnelo-eject 0.1.0\nProcCmdline: varnelo-eject --secret-token=XYZ\n"
      "ProcCwd: /home/ana/Private\nProcEnviron:\n LANG=en_GB.UTF-8\n"
      "ProcMaps:\n 55d0-55d1 r-xp /home/ana/bin/varnelo-eject\nSignal: 11\n"
      "Stacktrace:\n #0  0x00007f12 in open (path=0x5581 \"/srv/tax-2026.pdf\") at open.c:9\n"
      "         path = 0x5581 \"/srv/tax-2026.pdf\"\n"
      "         flags = 2\n #1  0x00007f13 in raise () from /lib/libc.so.6\n"
      "         No symbol table info available.\n"
      "StacktraceTop:\n Eject::run (this=0x1, name=\"Tax (2026)\") at eject.cpp:3\n"
      "UserGroups: ana sudo\n");
  rig.writeReport("/usr/bin/varnelo-eject",
                  "Signal: 6\nStacktraceTop:\n a () Termination\n b () Exception\n " +
                      std::string(30000, 'x'),
                  base + 1s);
  CrashReporter::uploadAtStart();
  const auto bodies = rig.uploads();
  ASSERT_EQ(bodies.size(), 2u);
  EXPECT_EQ(bodies[0]["stack"], "ProblemType: Crash\n"
                                "ExecutablePath: /usr/libexec/varnelo-eject/varnelo-eject-desktop\n"
                                "Package: varnelo-eject 0.1.0\nSignal: 11\nStacktrace:\n"
                                " #0  0x00007f12 in open () at open.c:9\n"
                                " #1  0x00007f13 in raise () from /lib/libc.so.6\n"
                                "StacktraceTop:\n Eject::run () at eject.cpp:3\n");
  EXPECT_EQ(bodies[0]["message"], "Rapport système Linux");
  EXPECT_EQ(bodies[1]["message"], " a () Termination");
  EXPECT_EQ(bodies[1]["stack"].get<std::string>().size(), CrashReporter::maxReportCharacters);
}

TEST(NetworkQueue, AHungCrashServerHoldsUpNeitherTheAppsQueueNorChecksNorQuitting) {
  CrashRig rig;
  LoopbackHttpServer hung;
  hung.setSilent(true);
  writeFile(rig.pendingFile(), "Signal 11\n---\nframe");
  for (int index = 0; index < 7; ++index) {
    rig.writeReport("/bin" + std::to_string(index) + "/varnelo-eject", "Signal: 6\n");
  }
  {
    NetworkQueue network(rig.dispatcher, rig.transport);
    rig.configure(hung.url("/crash"), &network);
    CrashReporter::install();
    ASSERT_TRUE(hung.waitForRequests(1));
    EXPECT_EQ(rig.dispatcher.pendingBackground(), 0u) << "the ejection pool stays free";
    auto client = rig.makeClient();
    client->setDispatcher(&network);
    rig.server.answer(200, MessageClientRig::offer("open", 0, ""));
    client->checkWithServer();
    test_support::waitUntil([&] { return rig.dispatcher.drainMain() != 0; }, 5s, 5ms);
    EXPECT_TRUE(client->ticketOpen()) << "checked beside the hung upload";
    const auto quitting = std::chrono::steady_clock::now();
    network.shutdown();
    EXPECT_LT(std::chrono::steady_clock::now() - quitting, 1s);
  }
  EXPECT_EQ(hung.received().size(), 1u) << "a launch stops at the first upload that fails";
  EXPECT_TRUE(std::filesystem::exists(rig.folder / "Crash" / "unsent")) << "the record is kept";
}

// Before the first-launch answer (or after a damaged settings file read as a fresh install) and
// with the user's switch off, nothing automatic goes; the build option stops every request.
TEST(AutomaticServerContact, NoAnswerTheSwitchAndTheBuildOptionEachSendNothingAutomatic) {
  for (const char* stop : {"unanswered", "switch", "build"}) {
    CrashRig rig;
    rig.networkFeatures = std::string(stop) != "build";
    if (std::string(stop) == "unanswered") {
      rig.store->remove(SupportClient::onboardedKey);
    } else if (std::string(stop) == "switch") {
      rig.store->set(setting_keys::automaticServerContact.name, false);
    }
    rig.writeReport("/usr/bin/varnelo-eject", "Signal: 6\n");
    writeFile(rig.pendingFile(), "Signal 11\n---\nframe");
    rig.configure();
    CrashReporter::install();
    CrashReporter::reportError("oops");
    auto client = rig.makeClient();
    rig.check(*client, MessageClientRig::offer("open", 3, "Hi"));
    EXPECT_FALSE(client->ticketOpen());
    EXPECT_TRUE(rig.server.received().empty()) << stop;
    EXPECT_TRUE(std::filesystem::exists(rig.pendingFile()));
    rig.server.answer(200, R"({"ok":true})");
    EXPECT_EQ(client->reportProblem("asked for", std::nullopt), rig.networkFeatures);
    EXPECT_EQ(rig.server.received().size(), rig.networkFeatures ? 1u : 0u);
  }
}

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
