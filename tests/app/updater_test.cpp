#include "app/updater.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QSignalSpy>
#include <QTest>

#include "app/qt_dispatcher.h"
#include "core/localization.h"
#include "platform/linux/curl_http_transport.h"
#include "tests/app/scripted_alert_presenter.h"
#include "tests/core/test_files.h"
#include "tests/support/loopback_http_server.h"
#include "tests/support/temporary_folder.h"

namespace {

std::string sha256Of(const std::string& bytes) {
  return QCryptographicHash::hash(QByteArray::fromStdString(bytes), QCryptographicHash::Sha256)
      .toHex()
      .toStdString();
}

class UpdaterTest : public testing::Test {
 protected:
  UpdaterTest() {
    server.route("/VarneloEject-1.3.0.run", {200, package, ""});
    server.route("/latest", {301, "", "/VarneloEject-1.3.0.run"});
    server.route("/elsewhere", {302, "", other.url("/VarneloEject-1.3.0.run")});
  }
  std::unique_ptr<Updater> makeUpdater(bool networkFeatures = true) {
    auto updater = std::make_unique<Updater>(
        transport, dispatcher, settings, alerts,
        UpdaterConfiguration{server.url("/feed.json"), "1.2.0", downloads.path(), networkFeatures});
    updater->setUrlOpener([](const std::string&) {});
    updater->setUpdateCheckInterval(3600);
    return updater;
  }
  void announce(const std::string& url, const std::string& sha, const char* version = "1.3.0") {
    const nlohmann::json feed{{"version", version}, {"url", url}, {"sha256", sha}};
    server.route("/feed.json", {200, feed.dump(), ""});
  }
  // One check, run until its dialogs are over and the download it starts has ended: whether a
  // package was kept.
  bool check(Updater& updater, bool userInitiated, bool downloads = true) {
    QSignalSpy finished(&updater, &Updater::checkFinished);
    QSignalSpy downloaded(&updater, &Updater::downloadFinished);
    settings.set(Updater::lastCheckKey, std::chrono::system_clock::now() - std::chrono::hours(48));
    userInitiated ? updater.checkForUpdates() : updater.startUpdater();
    EXPECT_TRUE(finished.wait(10000));
    return downloads && (!downloaded.empty() || downloaded.wait(10000)) &&
           downloaded.at(0).at(0).toBool();
  }

  LoopbackHttpServer server;
  LoopbackHttpServer other;
  const std::string package = std::string(3 * 1024 * 1024, 'p'); // larger than one answer
  TemporaryFolder settingsFolder;
  TemporaryFolder downloads;
  SettingsStore settings{settingsFolder / "defaults.plist"};
  CurlHttpTransport transport;
  QtDispatcher dispatcher;
  ScriptedAlertPresenter alerts;
};

TEST_F(UpdaterTest, Switches_OnAFreshInstallTheBoxIsWhatReallyHappens) {
  auto updater = makeUpdater();
  EXPECT_TRUE(updater->automaticUpdates());
  updater->startUpdater();
  updater->setUpdateCheckInterval(60);
  EXPECT_GT(updater->scheduledCheckDelay().value_or(0), 3590 * 1000) << "the first launch waits";
  updater->setAutomaticUpdates(false);
  EXPECT_FALSE(updater->automaticallyDownloadsUpdates() || updater->scheduledCheckDelay());
  auto withoutNetwork = makeUpdater(false);
  withoutNetwork->startUpdater();
  withoutNetwork->checkForUpdates();
  EXPECT_FALSE(withoutNetwork->automaticUpdates() || withoutNetwork->scheduledCheckDelay());
  QTest::qWait(200);
  EXPECT_TRUE(server.received().empty());
}

// Every feed gets an answer; Get It saves the package beside the user's files, never over one
// and never through a link left where the partial file goes.
TEST_F(UpdaterTest, UserCheck_AnswersEveryFeedAndGetItSavesTheVerifiedPackageUnderAFreeName) {
  auto updater = makeUpdater();
  announce("http://x/p", sha256Of(""), "1.2");
  check(*updater, true, false);
  for (const char* feed : {"<rss>not json</rss>", R"({"version": "1.3.0"})"}) {
    server.route("/feed.json", {200, feed, ""});
    check(*updater, true, false);
  }
  writeFile(downloads / "latest", "mine");
  std::filesystem::create_symlink(downloads / "elsewhere", downloads / "latest.part");
  announce(server.url("/latest"), sha256Of(package));
  EXPECT_TRUE(check(*updater, true)); // the first button: Get It
  const std::string failed = L("update.check_failed_title");
  EXPECT_EQ(alerts.titles(), (std::vector<std::string>{L("update.up_to_date_title"), failed, failed,
                                                       L("update.available_title", "1.3.0"),
                                                       L("update.downloaded_title", "1.3.0")}));
  EXPECT_EQ(readFile(downloads / "latest"), "mine");
  EXPECT_EQ(readFile(downloads / "latest-1"), package);
  EXPECT_FALSE(std::filesystem::exists(downloads / "elsewhere"));
  EXPECT_EQ(server.received().back().headers.count("User-Agent"), 0u);
}

// Only from the feed's scheme, host and port (a redirect included), and only when verified;
// a refused or tampered release is not fetched again.
TEST_F(UpdaterTest, ScheduledDownload_KeptOnlyFromTheFeedsOriginWhenVerifiedAndNotRepeated) {
  const std::string otherHost = "http://localhost:" + server.url("").substr(17);
  const std::tuple<std::string, std::string, const char*> packages[] = {
      {server.url("/latest"), sha256Of(package), nullptr},
      {otherHost + "/VarneloEject-1.3.0.run", sha256Of(package), Updater::refusedVersionKey},
      {other.url("/VarneloEject-1.3.0.run"), sha256Of(package), Updater::refusedVersionKey},
      {server.url("/elsewhere"), sha256Of(package), Updater::refusedVersionKey},
      {server.url("/VarneloEject-1.3.0.run"), sha256Of("else"), Updater::failedVersionKey}};
  for (const auto& [url, sha, remembered] : packages) {
    SCOPED_TRACE(url);
    settings.remove(Updater::failedVersionKey);
    settings.remove(Updater::refusedVersionKey);
    auto updater = makeUpdater();
    announce(url, sha);
    EXPECT_EQ(check(*updater, false), remembered == nullptr);
    EXPECT_EQ(std::filesystem::remove(downloads / "latest"), remembered == nullptr);
    for (const char* key : {Updater::refusedVersionKey, Updater::failedVersionKey}) {
      EXPECT_EQ(settings.string(key).has_value(), key == remembered) << key;
    }
    if (remembered != nullptr) {
      const auto before = server.received().size();
      check(*updater, false, false);
      EXPECT_EQ(server.received().size(), before + 1) << "the feed only, no second download";
    }
  }
  EXPECT_TRUE(other.received().empty());
  EXPECT_EQ(alerts.titles(), std::vector<std::string>{L("update.downloaded_title", "1.3.0")});
}

// A package that did not arrive is not held against its release: the user hears of it and the
// next checks, further apart each time, fetch it again.
TEST_F(UpdaterTest, ScheduledDownload_ATransferFailureIsAnnouncedAndRetriedLaterEachTime) {
  server.route("/flaky", {500, "", ""});
  announce(server.url("/flaky"), sha256Of(package));
  auto updater = makeUpdater();
  alerts.answers = {1}; // Later
  for (int failure = 1; failure <= 2; ++failure) {
    EXPECT_FALSE(check(*updater, false));
    // Qt may move a long timer's expiry by a moment to group wake-ups.
    EXPECT_GT(updater->scheduledCheckDelay().value_or(0), (failure * 3600 - 60) * 1000);
    EXPECT_LE(updater->scheduledCheckDelay().value_or(0), (failure * 3600 + 1) * 1000);
  }
  EXPECT_EQ(alerts.titles(), std::vector<std::string>{L("update.available_title", "1.3.0")});
  server.route("/flaky", {200, package, ""});
  EXPECT_TRUE(check(*updater, false));
  EXPECT_EQ(readFile(downloads / "flaky"), package);
  EXPECT_LE(updater->scheduledCheckDelay().value_or(0), (3600 + 1) * 1000);
}

} // namespace
