#include "core/crash/crash_reporter.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <thread>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "core/settings_store.h"
#include "platform/fake/fake_system_crash_reports.h"
#include "platform/fake/manual_dispatcher.h"
#include "platform/linux/curl_http_transport.h"
#include "tests/core/crash/run_crash_child.h"
#include "tests/core/test_files.h"
#include "tests/support/loopback_http_server.h"
#include "tests/support/temporary_folder.h"

namespace {

using namespace std::chrono_literals;
using Date = SettingsValue::Date;

Date at(std::chrono::seconds sinceEpoch) {
  return Date(sinceEpoch);
}

class CrashUploadTest : public ::testing::Test {
 protected:
  CrashUploadTest() { CrashReporter::configure(testSetup()); }
  ~CrashUploadTest() override {
    dispatcher.drainAll();
    CrashReporter::configure(CrashReporter::standardSetup(nullptr, nullptr));
  }

  CrashReporter::Setup testSetup() {
    return CrashReporter::Setup{.folder = folder / "VarneloEject",
                                .transport = transport,
                                .defaults = store,
                                .endpoint = server.url("/eject/v1/crash"),
                                .systemReports = &systemReports,
                                .dispatcher = &dispatcher,
                                .version = "2.0.1",
                                .osString = [] { return "Ubuntu 24.04"; },
                                .timeout = 5s};
  }

  std::filesystem::path pendingFile() const {
    return folder / "VarneloEject" / "pending-crash.txt";
  }
  std::filesystem::path reports() const { return folder / "Reports"; }

  void writeReport(const std::string& name, const std::string& text,
                   std::optional<Date> modified = std::nullopt) {
    writeFile(reports() / name, text);
    if (modified) {
      std::filesystem::last_write_time(reports() / name,
                                       std::chrono::file_clock::from_sys(*modified));
    }
  }

  // The bodies of every upload so far, after the queued ones have run.
  std::vector<nlohmann::json> uploads() {
    dispatcher.drainBackground();
    std::vector<nlohmann::json> bodies;
    for (const auto& request : server.received()) {
      bodies.push_back(nlohmann::json::parse(request.body));
    }
    return bodies;
  }

  std::optional<Date> lastScan() const {
    const auto stored = store.object("VELastCrashScan");
    if (!stored || !stored->is<Date>()) {
      return std::nullopt;
    }
    return *stored->as<Date>();
  }

  TemporaryFolder folder;
  SettingsStore store{folder / "defaults.plist"};
  LoopbackHttpServer server;
  CurlHttpTransport transport;
  ManualDispatcher dispatcher;
  FakeSystemCrashReports systemReports{folder / "Reports"};
};

// ---- The pending record ----

TEST_F(CrashUploadTest, PendingRecord_IsSplitAtTheFirstSeparatorDeletedFirstAndPostedOnceBare) {
  const std::tuple<std::string, std::string, std::string> cases[] = {
      {"Signal 11\n---\nframe 0\nframe 1", "Signal 11", "frame 0\nframe 1"},
      {"just a message\nover two lines", "just a message\nover two lines", ""},
      {"M\n---\nS\n---\ndropped", "M", "S"}};
  for (const auto& [record, message, stack] : cases) {
    writeFile(pendingFile(), record);
    CrashReporter::sendPendingCrash();
    EXPECT_FALSE(std::filesystem::exists(pendingFile())) << "deleted before anything is sent";
  }
  EXPECT_EQ(server.received().size(), 0u);
  CrashReporter::sendPendingCrash();
  const auto bodies = uploads();
  ASSERT_EQ(bodies.size(), 3u);
  for (std::size_t index = 0; index < 3; ++index) {
    EXPECT_EQ(bodies[index]["kind"], "crash");
    EXPECT_EQ(bodies[index]["message"], std::get<1>(cases[index]));
    EXPECT_EQ(bodies[index]["stack"], std::get<2>(cases[index]));
  }
  EXPECT_EQ(keysOf(bodies[0]), (std::set<std::string>{"d", "kind", "message", "stack", "v", "os"}));
  EXPECT_EQ(bodies[0]["v"], "2.0.1");
  EXPECT_EQ(bodies[0]["os"], "Ubuntu 24.04");
  const auto request = server.received().front();
  EXPECT_EQ(request.method, "POST");
  EXPECT_EQ(request.path, "/eject/v1/crash");
  EXPECT_FALSE(request.hasHeader("Content-Type"));
  EXPECT_EQ(request.body.find_first_of(" \n"), request.body.find("Signal 11") + 6)
      << "the only space is inside a string: " << request.body;
}

TEST_F(CrashUploadTest, PendingRecord_AbsentOrNotUtf8SendsNothingAndTheLatterStays) {
  CrashReporter::sendPendingCrash();
  EXPECT_TRUE(std::filesystem::is_directory(folder / "VarneloEject")) << "created on use";
  writeFile(pendingFile(), "Signal 11\n---\n\xff\xfe");
  CrashReporter::sendPendingCrash();
  EXPECT_TRUE(std::filesystem::exists(pendingFile()));
  EXPECT_TRUE(uploads().empty());
}

TEST_F(CrashUploadTest,
       Record_CarriesTheStoredDeviceIdOrQuestionMarksAndAnErrorAtMost15StackLines) {
  CrashReporter::send("crash", "a", "b");
  EXPECT_FALSE(store.string("VEDeviceId")) << "the crash reporter never creates one";
  store.set("VEDeviceId", "1B4E28BA-2FA1-11D2-883F-0016D3CCA427");
  CrashReporter::reportError("settings could not be written");
  CrashReporter::Setup setup = testSetup();
  setup.version = "";
  CrashReporter::configure(setup);
  CrashReporter::send("crash", "a", "b");
  const auto bodies = uploads();
  ASSERT_EQ(bodies.size(), 3u);
  EXPECT_EQ(bodies[0]["d"], "?");
  EXPECT_EQ(bodies[1]["d"], "1B4E28BA-2FA1-11D2-883F-0016D3CCA427");
  EXPECT_EQ(bodies[1]["v"], "2.0.1");
  EXPECT_EQ(bodies[2]["v"], "?");
  EXPECT_FALSE(bodies[2]["os"].get<std::string>().empty());
  // An error report carries at most 15 lines of the stack that reported it.
  EXPECT_EQ(bodies[1]["kind"], "error");
  EXPECT_EQ(bodies[1]["message"], "settings could not be written");
  const std::string stack = bodies[1]["stack"];
  EXPECT_FALSE(stack.empty());
  EXPECT_LE(std::count(stack.begin(), stack.end(), '\n'), 14);
  EXPECT_FALSE(stack.ends_with("\n"));
  EXPECT_FALSE(std::filesystem::exists(pendingFile()));
}

TEST_F(CrashUploadTest, Send_DoesNotWaitForAServerThatNeverAnswers) {
  server.setSilent(true);
  CrashReporter::Setup setup = testSetup();
  setup.dispatcher = nullptr;
  setup.timeout = 200ms;
  CrashReporter::configure(setup);
  const auto started = std::chrono::steady_clock::now();
  CrashReporter::send("crash", "a", "b");
  EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
  EXPECT_TRUE(server.waitForRequests(1));
  std::this_thread::sleep_for(400ms); // let the detached upload time out before teardown
  server.setSilent(false);
}

// ---- The system's reports ----

TEST_F(CrashUploadTest, SystemReports_SendsOnlyNewerUtf8ReportsOfThisProgramOnceAcrossStarts) {
  store.set("VELastCrashScan", at(1'700'000'000s));
  const std::vector<std::pair<std::string, Date>> files{
      {"VarneloEject-2026-01-02-101010.ips", at(1'700'000'100s)},
      {"Varnelo Eject_2026-01-03.crash", at(1'700'000'200s)},
      {"VarneloEject-same-date.ips", at(1'700'000'000s)},
      {"VarneloEject-older.crash", at(1'600'000'000s)},
      {"VarneloEject-2026.diag", at(1'700'000'300s)},
      {"OtherApp-2026-01-02.ips", at(1'700'000'300s)},
      {"varneloeject-lower.ips", at(1'700'000'300s)}};
  for (const auto& [name, date] : files) {
    writeReport(name, "Exception Type: EXC_BAD_ACCESS in " + name, date);
  }
  // Not UTF-8: skipped, and the scan does not move past it.
  writeReport("VarneloEject-bad.ips", "Exception \xff\xfe", at(1'700'000'500s));
  CrashReporter::sendSystemCrashReports();
  CrashReporter::sendSystemCrashReports();
  std::multiset<std::string> sent;
  for (const auto& body : uploads()) {
    EXPECT_EQ(body["kind"], "crash");
    sent.insert(body["stack"].get<std::string>());
  }
  EXPECT_EQ(sent, (std::multiset<std::string>{
                      "Exception Type: EXC_BAD_ACCESS in VarneloEject-2026-01-02-101010.ips",
                      "Exception Type: EXC_BAD_ACCESS in Varnelo Eject_2026-01-03.crash"}));
  EXPECT_EQ(lastScan(), at(1'700'000'200s));
}

TEST_F(CrashUploadTest, SystemReports_NameTheFirstExceptionOrTerminationLineCutTo18000Chars) {
  std::string accents; // 18000 characters are 34200 bytes here
  for (int count = 0; count < 50000; ++count) {
    accents += count % 10 == 9 ? "\n" : "\xC3\xA9";
  }
  const std::string huge = "Exception Type: EXC_BAD_ACCESS\n" + std::string(6 * 1024 * 1024, 'x');
  const std::string fallback = "Rapport système macOS";
  const std::tuple<std::string, std::string, std::string> reports[] = {
      {"Process: VarneloEject\n\n  Termination Reason: Namespace SIGNAL\nException Type: X\n", "",
       "  Termination Reason: Namespace SIGNAL"},
      {"Header\nException and Termination on one line  \nTermination later\n", "",
       "Exception and Termination on one line  "},
      {"Process: VarneloEject\nnothing here\n", "", fallback},
      {"", "", fallback},
      {accents, accents.substr(0, 16200 * 2 + 1800), fallback},
      {huge, huge.substr(0, 18000), "Exception Type: EXC_BAD_ACCESS"}};
  std::map<std::string, std::string> expected;
  int count = 0;
  for (const auto& [text, cut, message] : reports) {
    writeReport("VarneloEject-" + std::to_string(++count) + ".ips", text);
    expected[cut.empty() ? text : cut] = message;
  }
  CrashReporter::sendSystemCrashReports();
  std::map<std::string, std::string> messageOf;
  for (const auto& body : uploads()) {
    messageOf[body["stack"]] = body["message"];
  }
  EXPECT_EQ(messageOf.size(), expected.size());
  for (const auto& [stack, message] : expected) {
    EXPECT_EQ(messageOf[stack], message) << stack.substr(0, 40);
  }
}

TEST_F(CrashUploadTest, SystemReports_MissingUnlistableOrNoFolderChangesNothing) {
  FakeSystemCrashReports none{std::nullopt};
  for (const bool systemHasFolder : {true, false}) {
    CrashReporter::Setup setup = testSetup();
    setup.systemReports = systemHasFolder ? &systemReports : &none;
    CrashReporter::configure(setup);
    CrashReporter::sendSystemCrashReports(); // missing folder, then no folder at all
  }
  CrashReporter::configure(testSetup());
  writeFile(reports(), "a file where the folder should be");
  CrashReporter::sendSystemCrashReports();
  EXPECT_TRUE(uploads().empty());
  EXPECT_FALSE(store.object("VELastCrashScan"));
}

TEST_F(CrashUploadTest, SystemReports_UnreadableFolderChangesNothing) {
  if (geteuid() == 0) {
    GTEST_SKIP() << "root reads every folder; the not-a-folder case covers a failed listing";
  }
  writeReport("VarneloEject-1.ips", "Exception");
  std::filesystem::permissions(reports(), std::filesystem::perms::none);
  CrashReporter::sendSystemCrashReports();
  EXPECT_TRUE(uploads().empty());
  EXPECT_FALSE(store.object("VELastCrashScan"));
}

TEST_F(CrashUploadTest, SystemReports_NothingNewKeepsTheScanDateOrStoresTheDistantPast) {
  // Reports that are not regular files are skipped without blocking.
  std::filesystem::create_directories(reports() / "VarneloEject-folder.crash");
  ASSERT_EQ(mkfifo((reports() / "VarneloEject-pipe.ips").c_str(), 0600), 0);
  store.set("VELastCrashScan", at(1'700'000'000s));
  CrashReporter::sendSystemCrashReports();
  EXPECT_EQ(lastScan(), at(1'700'000'000s));
  store.set("VELastCrashScan", "not a date");
  CrashReporter::sendSystemCrashReports();
  ASSERT_TRUE(lastScan());
  EXPECT_LT(*lastScan(), at(0s));
  EXPECT_TRUE(uploads().empty());
}

// ---- Across a real crash and the next start ----

TEST_F(CrashUploadTest, NextStartUploadsTheRecordTheCrashLeft) {
  const std::string childFolder = (folder / "Child").string();
  const int crashed = runCrashChild({childFolder, "segfault"});
  ASSERT_TRUE(endsBySignal(crashed, SIGSEGV)) << crashed;
  const int started = runCrashChild({childFolder, "start-and-wait", server.url("/eject/v1/crash")});
  EXPECT_TRUE(WIFEXITED(started) && WEXITSTATUS(started) == 0) << started;
  ASSERT_EQ(server.received().size(), 1u);
  const auto body = nlohmann::json::parse(server.received().front().body);
  EXPECT_EQ(body["message"], "Signal 11");
  EXPECT_EQ(body["kind"], "crash");
  EXPECT_EQ(body["v"], "9.8.7");
  EXPECT_EQ(body["os"], "Test OS 1.2");
  EXPECT_FALSE(body["stack"].get<std::string>().empty());
  EXPECT_FALSE(std::filesystem::exists(folder / "Child" / "pending-crash.txt"));
}

} // namespace
