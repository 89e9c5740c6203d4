#include "app/updater.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include <QCryptographicHash>
#include <QSignalSpy>

#include "app/qt_dispatcher.h"
#include "core/localization.h"
#include "platform/linux/curl_http_transport.h"
#include "tests/app/scripted_alert_presenter.h"
#include "tests/support/temporary_folder.h"

using testing::ElementsAre;
using testing::HasSubstr;
using testing::IsEmpty;

namespace {

const std::string package = "#!/bin/sh\necho 'VarneloEject 1.3.0'\n";

std::string sha256Of(const std::string& bytes) {
  return QCryptographicHash::hash(QByteArray::fromStdString(bytes), QCryptographicHash::Sha256)
      .toHex()
      .toStdString();
}

// A release server on loopback: the feed and one package.
class ReleaseServer {
 public:
  ReleaseServer() {
    server_.Get("/feed.json", [this](const httplib::Request&, httplib::Response& response) {
      response.set_content(feed, "application/json");
    });
    server_.Get("/VarneloEject-1.3.0.run",
                [this](const httplib::Request&, httplib::Response& response) {
                  response.set_content(packageBytes, "application/octet-stream");
                });
    server_.Get("/latest", [](const httplib::Request&, httplib::Response& response) {
      response.set_redirect("/VarneloEject-1.3.0.run");
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this]() { server_.listen_after_bind(); });
    while (!server_.is_running()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  ~ReleaseServer() {
    server_.stop();
    thread_.join();
  }

  std::string url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }

  std::string announce(const std::string& version, const std::string& sha256,
                       const std::string& path = "/VarneloEject-1.3.0.run") const {
    return R"({"version": ")" + version + R"(", "notes": "Faster ejection.", "url": ")" +
           url(path) + R"(", "sha256": ")" + sha256 + R"("})";
  }

  std::string feed;
  std::string packageBytes = package;

 private:
  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
};

class UpdaterTest : public testing::Test {
 protected:
  UpdaterTest()
      : settingsFolder_(), settings_(settingsFolder_ / "defaults.plist"),
        updater_(transport_, dispatcher_, settings_, alerts_,
                 UpdaterConfiguration{server_.url("/feed.json"), "1.2.0", downloads_.path()}) {
    updater_.setUrlOpener([this](const std::string& url) { opened_.push_back(url); });
  }

  // Runs one check and waits for its answer.
  void checkAndWait(bool userInitiated) {
    QSignalSpy finished(&updater_, &Updater::checkFinished);
    if (userInitiated) {
      updater_.checkForUpdates();
    } else {
      settings_.set(Updater::automaticChecksKey, true);
      updater_.startUpdater(); // nothing checked yet: due at once
    }
    ASSERT_TRUE(finished.wait(10000));
  }

  // Waits for the download a scheduled check started and says whether it was kept.
  bool downloadResult(QSignalSpy& downloaded, int timeout = 10000) {
    EXPECT_TRUE(downloaded.count() > 0 || downloaded.wait(timeout));
    return !downloaded.isEmpty() && downloaded.at(0).at(0).toBool();
  }

  std::vector<std::filesystem::path> downloadedFiles() const {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(downloads_.path())) {
      files.push_back(entry.path().filename());
    }
    return files;
  }

  ReleaseServer server_;
  TemporaryFolder settingsFolder_;
  TemporaryFolder downloads_;
  SettingsStore settings_;
  CurlHttpTransport transport_;
  QtDispatcher dispatcher_;
  ScriptedAlertPresenter alerts_;
  Updater updater_;
  std::vector<std::string> opened_;
};

} // namespace

// --- user-initiated checks ---

TEST_F(UpdaterTest, UserCheck_NewerReleaseShowsVersionNotesAndTheLink) {
  server_.feed = server_.announce("1.3.0", sha256Of(package));
  alerts_.answer(0);
  checkAndWait(true);
  ASSERT_EQ(alerts_.shown.size(), 1u);
  EXPECT_EQ(alerts_.shown[0].title, L("update.available_title", "1.3.0"));
  EXPECT_THAT(alerts_.shown[0].message, HasSubstr("Faster ejection."));
  EXPECT_THAT(opened_, ElementsAre(server_.url("/VarneloEject-1.3.0.run")));
  // Asking does not download.
  EXPECT_THAT(downloadedFiles(), IsEmpty());
}

TEST_F(UpdaterTest, UserCheck_SameVersionIsUpToDateAndAMalformedFeedIsAClearFailure) {
  const std::string failed = L("update.check_failed_title");
  for (const auto& [feed, title] : std::vector<std::pair<std::string, std::string>>{
           {server_.announce("1.2", sha256Of(package)), L("update.up_to_date_title")},
           {"<rss>not json</rss>", failed},
           {R"({"version": "1.3.0"})", failed},
           {server_.announce("1.x", sha256Of(package)), failed},
           {server_.announce("1.3.0", "abc"), failed}}) {
    SCOPED_TRACE(feed);
    server_.feed = feed;
    alerts_.shown.clear();
    checkAndWait(true);
    ASSERT_EQ(alerts_.shown.size(), 1u);
    EXPECT_EQ(alerts_.shown[0].title, title);
  }
  EXPECT_THAT(opened_, IsEmpty());
}

TEST_F(UpdaterTest, UserCheck_UnreachableServerIsAClearFailure) {
  Updater updater(transport_, dispatcher_, settings_, alerts_,
                  UpdaterConfiguration{"http://127.0.0.1:1/feed.json", "1.2.0", downloads_.path()});
  QSignalSpy finished(&updater, &Updater::checkFinished);
  updater.checkForUpdates();
  ASSERT_TRUE(finished.wait(10000));
  ASSERT_EQ(alerts_.shown.size(), 1u);
  EXPECT_EQ(alerts_.shown[0].style, Alert::Style::warning);
  EXPECT_EQ(alerts_.shown[0].title, L("update.check_failed_title"));
}

// --- scheduled checks ---

TEST_F(UpdaterTest, ScheduledCheck_DownloadsALargePackageBehindARedirectBeforeTellingTheUser) {
  settings_.set(Updater::automaticDownloadsKey, true);
  server_.packageBytes.clear();
  for (int index = 0; server_.packageBytes.size() < 3 * 1024 * 1024; ++index) {
    server_.packageBytes += std::to_string(index) + "\n";
  }
  server_.feed = server_.announce("1.3.0", sha256Of(server_.packageBytes), "/latest");
  QSignalSpy downloaded(&updater_, &Updater::downloadFinished);
  checkAndWait(false);
  EXPECT_THAT(alerts_.shown, IsEmpty()); // not before the file is there and checked
  EXPECT_TRUE(downloadResult(downloaded, 20000));
  EXPECT_THAT(downloadedFiles(), ElementsAre("latest"));
  std::ifstream file(downloads_ / "latest", std::ios::binary);
  EXPECT_EQ(sha256Of(std::string(std::istreambuf_iterator<char>(file), {})),
            sha256Of(server_.packageBytes));
  ASSERT_EQ(alerts_.shown.size(), 1u);
  EXPECT_EQ(alerts_.shown[0].title, L("update.downloaded_title", "1.3.0"));
}

TEST_F(UpdaterTest, ScheduledCheck_ChecksumMismatchDeletesTheFileQuietly) {
  settings_.set(Updater::automaticDownloadsKey, true);
  server_.feed = server_.announce("1.3.0", sha256Of("something else"));
  QSignalSpy downloaded(&updater_, &Updater::downloadFinished);
  checkAndWait(false);
  EXPECT_FALSE(downloadResult(downloaded));
  EXPECT_THAT(downloadedFiles(), IsEmpty());
  EXPECT_THAT(alerts_.shown, IsEmpty());
}

TEST_F(UpdaterTest, ScheduledCheck_FailsQuietlyAndWithoutDownloadsAnnouncesOncePerRun) {
  server_.feed = "{";
  checkAndWait(false);
  EXPECT_THAT(alerts_.shown, IsEmpty());
  settings_.remove(Updater::lastCheckKey);
  server_.feed = server_.announce("1.3.0", sha256Of(package));
  alerts_.answer(1);
  checkAndWait(false);
  settings_.remove(Updater::lastCheckKey);
  checkAndWait(false);
  EXPECT_EQ(alerts_.shown.size(), 1u);
  EXPECT_THAT(downloadedFiles(), IsEmpty());
}

// --- schedule and switches ---

TEST_F(UpdaterTest, Schedule_NextCheckIsOneIntervalAfterTheLastAndNeverMoreOftenThanHourly) {
  settings_.set(Updater::lastCheckKey,
                SettingsValue(std::chrono::system_clock::now() - std::chrono::minutes(10)));
  updater_.startUpdater();
  updater_.setUpdateCheckInterval(60);
  EXPECT_EQ(updater_.updateCheckInterval(), 3600);
  ASSERT_TRUE(updater_.scheduledCheckDelay().has_value());
  EXPECT_GT(*updater_.scheduledCheckDelay(), 49 * 60 * 1000);
  // The store keeps dates to the second.
  EXPECT_LE(*updater_.scheduledCheckDelay(), 50 * 60 * 1000 + 1000);
}

TEST_F(UpdaterTest, Switches_LiveInTheirOwnKeysAndStopTheSchedule) {
  EXPECT_TRUE(updater_.automaticallyChecksForUpdates());
  EXPECT_FALSE(updater_.automaticallyDownloadsUpdates());
  updater_.startUpdater();
  EXPECT_TRUE(updater_.scheduledCheckDelay().has_value());
  updater_.setAutomaticallyChecksForUpdates(false);
  updater_.setAutomaticallyDownloadsUpdates(true);
  EXPECT_FALSE(settings_.boolean(Updater::automaticChecksKey));
  EXPECT_TRUE(settings_.boolean(Updater::automaticDownloadsKey));
  EXPECT_FALSE(updater_.scheduledCheckDelay().has_value());
}

TEST(UpdaterVersions, ComparesNumericallyPartByPart) {
  EXPECT_EQ(Updater::compareVersions("1.10.0", "1.9.3"), 1);
  EXPECT_EQ(Updater::compareVersions("1.2", "1.2.0"), 0);
  EXPECT_EQ(Updater::compareVersions("0.9", "1.0"), -1);
  EXPECT_EQ(Updater::compareVersions("1.2-beta", "1.2"), std::nullopt);
  EXPECT_EQ(Updater::compareVersions("", "1"), std::nullopt);
  EXPECT_EQ(Updater::compareVersions("1..2", "1"), std::nullopt);
}
