#include "core/crash/crash_reporter.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <set>
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "core/settings_store.h"
#include "platform/fake/fake_system_crash_reports.h"
#include "platform/fake/manual_dispatcher.h"
#include "platform/linux/apport_crash_reports.h"
#include "platform/linux/curl_http_transport.h"
#include "tests/core/crash/run_crash_child.h"
#include "tests/core/test_files.h"
#include "tests/support/loopback_http_server.h"
#include "tests/support/temporary_folder.h"

namespace {

using namespace std::chrono_literals;
using Date = SettingsValue::Date;

class CrashUploadTest : public ::testing::Test {
 protected:
  CrashUploadTest() { configure(&systemReports); }
  ~CrashUploadTest() override {
    CrashReporter::configure(CrashReporter::standardSetup(nullptr, nullptr));
  }

  void configure(SystemCrashReports* reports, std::string endpoint = {}) {
    CrashReporter::configure({.folder = folder / "VarneloEject",
                              .transport = transport,
                              .defaults = store,
                              .endpoint = endpoint.empty() ? server.url("/crash") : endpoint,
                              .systemReports = reports,
                              .dispatcher = &dispatcher,
                              .version = "2.0.1",
                              .osString = [] { return "Ubuntu 24.04"; },
                              .timeout = 5s,
                              .homeFolder = "/home/ana/",
                              .userName = "ana"});
  }
  std::filesystem::path pendingFile() const { return folder / "VarneloEject/pending-crash.txt"; }
  // The pending record and the unsent ones kept aside.
  std::size_t recordsLeft() const {
    std::error_code ignored;
    std::size_t count = std::filesystem::exists(pendingFile()) ? 1 : 0;
    for (std::filesystem::directory_iterator entry(folder / "VarneloEject/unsent", ignored), end;
         !ignored && entry != end; entry.increment(ignored)) {
      ++count;
    }
    return count;
  }
  void writeReport(const std::string& name, const std::string& text, Date modified) {
    writeFile(folder / "Reports" / name, text);
    std::filesystem::last_write_time(folder / "Reports" / name,
                                     std::chrono::file_clock::from_sys(modified));
  }
  std::vector<nlohmann::json> uploads() {
    dispatcher.drainAll();
    std::vector<nlohmann::json> bodies;
    for (const auto& request : server.received()) {
      bodies.push_back(nlohmann::json::parse(request.body));
    }
    return bodies;
  }
  std::optional<SettingsValue> lastScan() const { return store.object("VELastCrashScan"); }

  TemporaryFolder folder;
  SettingsStore store{folder / "defaults.plist"};
  LoopbackHttpServer server;
  CurlHttpTransport transport;
  ManualDispatcher dispatcher;
  FakeSystemCrashReports systemReports{folder / "Reports"};
};

TEST_F(CrashUploadTest, PendingRecord_IsSplitAtTheFirstSeparatorAndPostedBareOnce) {
  const std::tuple<std::string, std::string, std::string> cases[] = {
      {"Signal 11\n---\nframe 0\nframe 1", "Signal 11", "frame 0\nframe 1"},
      {"just a message\nover two lines", "just a message\nover two lines", ""},
      {"M\n---\nS in /home/ana/bin\n---\ndropped", "M", "S in ~/bin"}};
  for (const auto& [record, message, stack] : cases) {
    writeFile(pendingFile(), record);
    CrashReporter::sendPendingCrash();
    EXPECT_EQ(recordsLeft(), 0u);
  }
  store.set("VEDeviceId", "1B4E28BA-2FA1-11D2-883F-0016D3CCA427");
  CrashReporter::reportError("settings could not be written");
  const auto bodies = uploads();
  ASSERT_EQ(bodies.size(), 4u);
  for (std::size_t index = 0; index < 3; ++index) {
    EXPECT_EQ(bodies[index]["message"], std::get<1>(cases[index]));
    EXPECT_EQ(bodies[index]["stack"], std::get<2>(cases[index]));
    EXPECT_EQ(bodies[index]["d"], "?") << "the crash reporter never creates an identifier";
    EXPECT_EQ(server.received()[index].body.size(), bodies[index].dump().size()) << "compact";
  }
  EXPECT_EQ(keysOf(bodies[0]), (std::set<std::string>{"d", "kind", "message", "stack", "v", "os"}));
  EXPECT_EQ(bodies[0]["kind"], "crash");
  EXPECT_EQ(bodies[0]["os"], "Ubuntu 24.04");
  EXPECT_EQ(server.received()[0].headers.count("Content-Type"), 0u);
  EXPECT_EQ(bodies[3]["kind"], "error");
  EXPECT_EQ(bodies[3]["d"], "1B4E28BA-2FA1-11D2-883F-0016D3CCA427");
  const std::string errorStack = bodies[3]["stack"];
  EXPECT_LE(std::count(errorStack.begin(), errorStack.end(), '\n'), 14);
  writeFile(pendingFile(), "Signal 11\n---\n\xff\xfe");
  CrashReporter::sendPendingCrash();
  EXPECT_TRUE(std::filesystem::exists(pendingFile())) << "not UTF-8: left where it is";
}

TEST_F(CrashUploadTest, PendingRecord_IsKeptUntilA2xxAnswerAndGivenUpAfterThreeLaunches) {
  const std::tuple<std::string, int, std::size_t> launches[] = {
      {"http://127.0.0.1:1/crash", 200, 1}, // refused
      {"", 500, 1},
      {"", 204, 0},
  };
  writeFile(pendingFile(), "Signal 6\n---\nframe");
  for (const auto& [endpoint, status, left] : launches) {
    configure(nullptr, endpoint);
    server.answer(status, "{}");
    CrashReporter::sendPendingCrash();
    EXPECT_EQ(recordsLeft(), left) << endpoint << status;
  }
  server.answer(500, "{}");
  writeFile(pendingFile(), "Signal 4\n---\nframe");
  for (const std::size_t left : {1u, 1u, 0u}) {
    CrashReporter::sendPendingCrash();
    EXPECT_EQ(recordsLeft(), left);
  }
  EXPECT_EQ(uploads().size(), 5u);
}

TEST_F(CrashUploadTest, SystemReports_TheScanDateMovesOnlyPastDeliveredOrThriceFailedOnes) {
  const Date base{1'700'000'000s};
  store.set("VELastCrashScan", base);
  const std::pair<std::string, Date> files[] = {
      {"VarneloEject-a.ips", base + 100s},    {"Varnelo Eject_b.crash", base + 200s},
      {"VarneloEject-c.crash", base + 300s},  {"VarneloEject-d.crash", base + 400s},
      {"VarneloEject-same.ips", base},        {"VarneloEject-older.crash", base - 1h},
      {"VarneloEject-x.diag", base + 300s},   {"OtherApp-1.ips", base + 300s},
      {"varneloeject-lower.ips", base + 300s}};
  for (const auto& [name, date] : files) {
    writeReport(name, "Exception in " + name, date);
  }
  writeReport("VarneloEject-bad.ips", "Exception \xff\xfe", base + 50s); // skipped, not counted
  server.answer(500, "{}");
  for (int launch = 1; launch <= 3; ++launch) {
    CrashReporter::sendSystemCrashReports();
    EXPECT_EQ(lastScan(), SettingsValue(launch < 3 ? base : base + 100s)) << launch;
  }
  server.answer(200, "{}");
  CrashReporter::sendSystemCrashReports(); // three at most per launch
  EXPECT_EQ(lastScan(), SettingsValue(base + 400s));
  std::multiset<std::string> sent;
  for (const auto& body : uploads()) {
    sent.insert(body["stack"].get<std::string>().substr(13));
  }
  EXPECT_EQ(sent, (std::multiset<std::string>{"VarneloEject-a.ips", "VarneloEject-a.ips",
                                              "VarneloEject-a.ips", "Varnelo Eject_b.crash",
                                              "VarneloEject-c.crash", "VarneloEject-d.crash"}));
}

TEST_F(CrashUploadTest, SystemReports_NameTheFirstExceptionOrTerminationLineCutTo18000Chars) {
  std::string accents; // 18000 characters are 34200 bytes here
  for (int count = 0; count < 50000; ++count) {
    accents += count % 10 == 9 ? "\n" : "\xC3\xA9";
  }
  const std::string fallback = "Rapport système macOS";
  const std::tuple<std::string, std::string, std::string> reports[] = {
      {"P: V\n\n  Termination Reason: SIGNAL\nException Type: X\n", "",
       "  Termination Reason: SIGNAL"},
      {"Header\nException and Termination  \nTermination later\n", "",
       "Exception and Termination  "},
      {"Process: VarneloEject\nnothing here\n", "", fallback},
      {accents, accents.substr(0, 16200 * 2 + 1800), fallback}};
  std::map<std::string, std::string> expected;
  int count = 0;
  for (const auto& [text, cut, message] : reports) {
    writeReport("VarneloEject-" + std::to_string(++count) + ".ips", text, Date{1'700'000'000s});
    expected[cut.empty() ? text : cut] = message;
  }
  CrashReporter::sendSystemCrashReports();
  std::map<std::string, std::string> messageOf;
  for (const auto& body : uploads()) {
    messageOf[body["stack"]] = body["message"];
  }
  EXPECT_EQ(messageOf.size(), 3u) << "three reports at most per launch";
  for (const auto& [stack, message] : messageOf) {
    EXPECT_EQ(message, expected[stack]) << stack.substr(0, 40);
  }
}

TEST_F(CrashUploadTest, SystemReports_NoFolderOrOneThatCannotBeListedChangesNothing) {
  FakeSystemCrashReports none{std::nullopt};
  configure(&none);
  CrashReporter::sendSystemCrashReports();
  configure(&systemReports);
  CrashReporter::sendSystemCrashReports();
  writeFile(folder / "Reports", "a file where the folder should be");
  CrashReporter::sendSystemCrashReports();
  EXPECT_TRUE(uploads().empty());
  EXPECT_FALSE(lastScan());
}

TEST_F(CrashUploadTest, ApportReport_UploadsWhatIdentifiesTheCrashAndNothingPersonal) {
  const std::string name = "_home_ana_bin_varnelo-eject." + std::to_string(getuid()) + ".crash";
  writeReport(name,
              "ProblemType: Crash\nCoreDump: base64\n H4sICAAAAAAC/0NvcmVEdW1wAA==\n"
              "Date: Sun Dec  6 10:00:00 2026\nExecutablePath: /home/ana/bin/varnelo-eject\n"
              "Package: varnelo-eject 0.1.0\nProcCmdline: varnelo-eject --secret-token=XYZ\n"
              "ProcCwd: /home/ana/Private\nProcEnviron:\n LANG=en_GB.UTF-8\n SHELL=/bin/bash\n"
              "ProcMaps:\n 55d0-55d1 r-xp /home/ana/bin/varnelo-eject\nSignal: 11\n"
              "StacktraceTop:\n crash () at ana.cpp:3\n main (path=\"/home/ana/Work\")\n"
              "UserGroups: ana sudo\n",
              Date{1'800'000'000s});
  ApportCrashReports apport(folder / "Reports", "varnelo-eject", getuid());
  configure(&apport);
  CrashReporter::sendSystemCrashReports();
  const auto bodies = uploads();
  ASSERT_EQ(bodies.size(), 1u);
  EXPECT_EQ(bodies[0]["stack"], "ProblemType: Crash\nExecutablePath: ~/bin/varnelo-eject\n"
                                "Package: varnelo-eject 0.1.0\nSignal: 11\nStacktraceTop:\n"
                                " crash () at ana.cpp:3\n main (path=\"~/Work\")\n");
  EXPECT_EQ(bodies[0]["message"], "Rapport système Linux");
}

TEST_F(CrashUploadTest, NextStartUploadsTheRecordTheCrashLeft) {
  const std::string childFolder = (folder / "Child").string();
  ASSERT_TRUE(endsBySignal(runCrashChild({childFolder, "segfault"}), SIGSEGV));
  const int started = runCrashChild({childFolder, "start-and-wait", server.url("/crash")});
  EXPECT_TRUE(WIFEXITED(started) && WEXITSTATUS(started) == 0) << started;
  ASSERT_EQ(server.received().size(), 1u);
  const auto body = nlohmann::json::parse(server.received().front().body);
  EXPECT_EQ(body["message"], "Signal 11");
  EXPECT_EQ(body["v"], "9.8.7");
  EXPECT_FALSE(body["stack"].get<std::string>().empty());
  EXPECT_FALSE(std::filesystem::exists(folder / "Child" / "pending-crash.txt"));
}

} // namespace
