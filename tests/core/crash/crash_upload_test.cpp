#include "core/crash/crash_reporter.h"

#include <signal.h>

#include <map>
#include <set>

#include <gtest/gtest.h>

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
const Date base{1'700'000'000s};

class CrashUploadTest : public ::testing::Test {
 protected:
  CrashUploadTest() { configure(&systemReports); }
  ~CrashUploadTest() override { CrashReporter::configure(CrashReporter::standardSetup({}, {})); }

  void configure(SystemCrashReports* reports, std::string endpoint = {}) {
    CrashReporter::configure({.folder = folder / "VarneloEject",
                              .transport = transport,
                              .defaults = store,
                              .endpoint = endpoint.empty() ? server.url("/crash") : endpoint,
                              .systemReports = reports,
                              .dispatcher = &dispatcher,
                              .version = "2.0.1",
                              .osString = [] { return "Ubuntu 24.04"; },
                              .homeFolder = "/home/ana/",
                              .userName = "ana"});
  }
  std::filesystem::path pendingFile() const { return folder / "VarneloEject/pending-crash.txt"; }
  // The pending record and those kept aside.
  std::size_t recordsLeft() const {
    std::error_code ignored;
    const std::filesystem::directory_iterator unsent(folder / "VarneloEject/unsent", ignored);
    return std::filesystem::exists(pendingFile()) +
           static_cast<std::size_t>(std::distance(unsent, std::filesystem::directory_iterator()));
  }
  void writeReport(const std::string& name, const std::string& text, Date modified = base) {
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
      {"M\n---\nS in /home/ana/bin by ana\n---\ndropped", "M", "S in ~/bin by <user>"}};
  for (const auto& [record, message, stack] : cases) {
    writeFile(pendingFile(), record);
    CrashReporter::sendPendingCrash();
  }
  writeFile(pendingFile(), "Signal 11\n---\n\xff\xfe"); // not UTF-8: left where it is
  CrashReporter::sendPendingCrash();
  EXPECT_EQ(recordsLeft(), 1u);
  store.set("VEDeviceId", "1B4E28BA-2FA1-11D2-883F-0016D3CCA427");
  CrashReporter::reportError("settings could not be written");
  const auto bodies = uploads();
  ASSERT_EQ(bodies.size(), 4u);
  for (std::size_t index = 0; index < 3; ++index) {
    EXPECT_EQ(bodies[index]["message"], std::get<1>(cases[index]));
    EXPECT_EQ(bodies[index]["stack"], std::get<2>(cases[index]));
    EXPECT_EQ(bodies[index]["d"], "?") << "the crash reporter never creates an identifier";
    EXPECT_EQ(server.received()[index].body.size(), bodies[index].dump().size()) << "compact";
    EXPECT_EQ(server.received()[index].headers.count("Content-Type"), 0u);
  }
  EXPECT_EQ(keysOf(bodies[0]), (std::set<std::string>{"d", "kind", "message", "stack", "v", "os"}));
  EXPECT_EQ(bodies[0]["kind"], "crash");
  EXPECT_EQ(bodies[3]["kind"], "error");
  EXPECT_EQ(bodies[3]["d"], "1B4E28BA-2FA1-11D2-883F-0016D3CCA427");
  const std::string errorStack = bodies[3]["stack"];
  EXPECT_LE(std::count(errorStack.begin(), errorStack.end(), '\n'), 14);
}

TEST_F(CrashUploadTest, PendingRecord_IsKeptUntilA2xxAnswerAndGivenUpAfterThreeLaunches) {
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
      writeFile(pendingFile(), "Signal 6\n---\nframe " + std::to_string(launch));
    }
    configure(nullptr, endpoint);
    server.answer(status, "{}");
    CrashReporter::sendPendingCrash();
    EXPECT_EQ(recordsLeft(), left) << launch;
  }
  EXPECT_EQ(uploads().size(), 5u);
}

TEST_F(CrashUploadTest, SystemReports_TheScanDateMovesOnlyPastDeliveredOrThriceFailedOnes) {
  store.set("VELastCrashScan", base);
  const std::pair<std::string, Date> files[] = {
      {"VarneloEject-a.ips", base + 100s},   {"Varnelo Eject_b.crash", base + 200s},
      {"VarneloEject-c.crash", base + 300s}, {"VarneloEject-d.crash", base + 400s},
      {"VarneloEject-same.ips", base},       {"VarneloEject-x.diag", base + 300s},
      {"OtherApp-1.ips", base + 300s},       {"varneloeject-lower.ips", base + 300s}};
  for (const auto& [name, date] : files) {
    writeReport(name, "Exception in " + name, date);
  }
  writeReport("VarneloEject-bad.ips", "Exception \xff\xfe", base + 50s); // skipped, not counted
  server.answer(500, "{}");
  for (int launch = 1; launch <= 3; ++launch) {
    CrashReporter::sendSystemCrashReports();
    EXPECT_EQ(store.object("VELastCrashScan"), SettingsValue(launch < 3 ? base : base + 100s));
  }
  server.answer(200, "{}");
  CrashReporter::sendSystemCrashReports(); // three at most per launch
  EXPECT_EQ(store.object("VELastCrashScan"), SettingsValue(base + 400s));
  std::multiset<std::string> sent;
  for (const auto& body : uploads()) {
    sent.insert(body["stack"].get<std::string>().substr(13));
  }
  EXPECT_EQ(sent, (std::multiset<std::string>{"VarneloEject-a.ips", "VarneloEject-a.ips",
                                              "VarneloEject-a.ips", "Varnelo Eject_b.crash",
                                              "VarneloEject-c.crash", "VarneloEject-d.crash"}));
}

TEST_F(CrashUploadTest, SystemReports_NameTheFirstExceptionOrTerminationLineCutTo18000Chars) {
  const std::string long_ = "\n" + std::string(30000, 'x') + "\xC3\xA9";
  const std::pair<std::string, std::string> reports[] = {
      {"P: V\n\n  Termination Reason: SIGNAL\nException Type: X\n", "  Termination Reason: SIGNAL"},
      {"Header\nException and Termination  \nTermination\n", "Exception and Termination  "},
      {"\xC3\xA9" + long_, "Rapport système macOS"}};
  for (std::size_t index = 0; index < 3; ++index) {
    writeReport("VarneloEject-" + std::to_string(index) + ".ips", reports[index].first);
  }
  CrashReporter::sendSystemCrashReports();
  std::map<std::string, std::string> messageOf;
  for (const auto& body : uploads()) {
    messageOf[body["stack"]] = body["message"];
  }
  EXPECT_EQ(messageOf[reports[0].first], reports[0].second);
  EXPECT_EQ(messageOf[reports[1].first], reports[1].second);
  EXPECT_EQ(messageOf[("\xC3\xA9" + long_).substr(0, 18001)], reports[2].second);
  configure(nullptr);
  writeFile(folder / "Reports/VarneloEject-9.ips", "Exception");
  CrashReporter::sendSystemCrashReports(); // no folder at all
  configure(&systemReports);
  std::filesystem::remove_all(folder / "Reports");
  writeFile(folder / "Reports", "a file where the folder should be");
  CrashReporter::sendSystemCrashReports();
  EXPECT_EQ(uploads().size(), 3u);
}

TEST_F(CrashUploadTest, ApportReport_UploadsWhatIdentifiesTheCrashAndNothingPersonal) {
  writeReport("_home_ana_bin_varnelo-eject." + std::to_string(getuid()) + ".crash",
              "ProblemType: Crash\nCoreDump: base64\n H4sICAAAAAAC/0NvcmVEdW1wAA==\n"
              "Date: Sun Dec  6 10:00:00 2026\nExecutablePath: /home/ana/bin/varnelo-eject\n"
              "Package: varnelo-eject 0.1.0\nProcCmdline: varnelo-eject --secret-token=XYZ\n"
              "ProcCwd: /home/ana/Private\nProcEnviron:\n LANG=en_GB.UTF-8\n SHELL=/bin/bash\n"
              "ProcMaps:\n 55d0-55d1 r-xp /home/ana/bin/varnelo-eject\nSignal: 11\n"
              "StacktraceTop:\n crash () at banana.cpp:3\n main (path=\"/home/ana/Work\")\n"
              "UserGroups: ana sudo\n");
  ApportCrashReports apport(folder / "Reports", "varnelo-eject", getuid());
  configure(&apport);
  CrashReporter::sendSystemCrashReports();
  const auto bodies = uploads();
  ASSERT_EQ(bodies.size(), 1u);
  EXPECT_EQ(bodies[0]["stack"], "ProblemType: Crash\nExecutablePath: ~/bin/varnelo-eject\n"
                                "Package: varnelo-eject 0.1.0\nSignal: 11\nStacktraceTop:\n"
                                " crash () at banana.cpp:3\n main (path=\"~/Work\")\n");
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
