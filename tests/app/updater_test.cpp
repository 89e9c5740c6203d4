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
    for (int index = 0; package.size() < 3 * 1024 * 1024; ++index) {
      package += std::to_string(index) + "\n";
    }
    server.route("/VarneloEject-1.3.0.run", {200, package, ""});
    server.route("/latest", {301, "", "/VarneloEject-1.3.0.run"});
    server.route("/elsewhere", {302, "", other.url("/VarneloEject-1.3.0.run")});
  }
  std::unique_ptr<Updater> makeUpdater(bool networkFeatures = true) {
    auto updater = std::make_unique<Updater>(
        transport, dispatcher, settings, alerts,
        UpdaterConfiguration{server.url("/feed.json"), "1.2.0", downloads.path(), networkFeatures});
    updater->setUrlOpener([](const std::string&) {});
    return updater;
  }
  void announce(const std::string& url, const std::string& sha) {
    server.route("/feed.json", {200,
                                R"({"version":"1.3.0","notes":"Faster.","url":")" + url +
                                    R"(","sha256":")" + sha + "\"}",
                                ""});
  }
  // One scheduled check and the download it starts, run to their end: whether it was kept.
  bool scheduledDownload(Updater& updater) {
    QSignalSpy downloaded(&updater, &Updater::downloadFinished);
    check(updater, false);
    return (downloaded.count() > 0 || downloaded.wait(10000)) && downloaded.at(0).at(0).toBool();
  }
  // One check, run until its dialogs are over; a download it starts may still be under way.
  void check(Updater& updater, bool userInitiated) {
    QSignalSpy finished(&updater, &Updater::checkFinished);
    settings.set(Updater::lastCheckKey, std::chrono::system_clock::now() - std::chrono::hours(48));
    userInitiated ? updater.checkForUpdates() : updater.startUpdater();
    ASSERT_TRUE(finished.wait(10000));
  }

  LoopbackHttpServer server;
  LoopbackHttpServer other;
  std::string package;
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
  EXPECT_FALSE(updater->scheduledCheckDelay());
  updater->startUpdater();
  updater->setUpdateCheckInterval(60);
  EXPECT_EQ(updater->updateCheckInterval(), 3600);
  ASSERT_TRUE(updater->scheduledCheckDelay());
  EXPECT_GT(*updater->scheduledCheckDelay(), 3590 * 1000) << "the first launch fetches nothing";
  updater->setAutomaticUpdates(false);
  EXPECT_FALSE(updater->automaticallyChecksForUpdates() ||
               updater->automaticallyDownloadsUpdates());
  EXPECT_FALSE(updater->scheduledCheckDelay());
  auto withoutNetwork = makeUpdater(false);
  withoutNetwork->startUpdater();
  withoutNetwork->checkForUpdates();
  EXPECT_FALSE(withoutNetwork->automaticUpdates() || withoutNetwork->scheduledCheckDelay());
  QTest::qWait(200);
  EXPECT_TRUE(server.received().empty());
}

TEST_F(UpdaterTest, UserCheck_AnswersEveryFeedAndGetItDownloadsAndVerifiesThePackage) {
  const std::string failed = L("update.check_failed_title");
  const std::pair<std::string, std::string> feeds[] = {
      {R"({"version":"1.2","url":"http://x/p","sha256":")" + sha256Of("") + "\"}",
       L("update.up_to_date_title")},
      {"<rss>not json</rss>", failed},
      {R"({"version": "1.3.0"})", failed},
      {R"({"version":"1.x","url":"http://x/p","sha256":")" + sha256Of("") + "\"}", failed}};
  auto updater = makeUpdater();
  for (const auto& [feed, title] : feeds) {
    server.route("/feed.json", {200, feed, ""});
    alerts.shown.clear();
    check(*updater, true);
    ASSERT_EQ(alerts.shown.size(), 1u) << feed;
    EXPECT_EQ(alerts.shown[0].title, title) << feed;
  }
  // Never over the user's file, never through a link left where the partial file goes.
  writeFile(downloads / "latest", "mine");
  std::filesystem::create_symlink(downloads / "elsewhere", downloads / "latest.part");
  announce(server.url("/latest"), sha256Of(package));
  alerts.shown.clear();
  QSignalSpy downloaded(updater.get(), &Updater::downloadFinished);
  check(*updater, true); // the first button: Get It
  ASSERT_TRUE(downloaded.wait(10000));
  ASSERT_EQ(alerts.shown.size(), 2u);
  EXPECT_EQ(alerts.shown[1].title, L("update.downloaded_title", "1.3.0"));
  EXPECT_EQ(downloaded.at(0).at(1).toString().toStdString(), (downloads / "latest-1").string());
  EXPECT_EQ(readFile(downloads / "latest"), "mine");
  EXPECT_EQ(readFile(downloads / "latest-1"), package);
  EXPECT_FALSE(std::filesystem::exists(downloads / "elsewhere"));
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
    const auto before = server.received().size();
    EXPECT_EQ(scheduledDownload(*updater), remembered == nullptr);
    EXPECT_EQ(std::filesystem::exists(downloads / "latest"), remembered == nullptr);
    std::filesystem::remove_all(downloads / "latest");
    for (const char* key : {Updater::refusedVersionKey, Updater::failedVersionKey}) {
      EXPECT_EQ(settings.string(key).has_value(), key == remembered) << key;
    }
    if (remembered == Updater::refusedVersionKey) {
      EXPECT_EQ(server.received().size(), before + (url.ends_with("/elsewhere") ? 2 : 1));
    }
    if (remembered != nullptr) {
      const auto again = server.received().size();
      check(*updater, false);
      EXPECT_EQ(server.received().size(), again + 1) << "the feed only, no second download";
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
  updater->setUpdateCheckInterval(3600);
  alerts.answer(1); // Later
  for (int failure = 1; failure <= 2; ++failure) {
    EXPECT_FALSE(scheduledDownload(*updater));
    ASSERT_TRUE(updater->scheduledCheckDelay());
    EXPECT_GT(*updater->scheduledCheckDelay(), (failure * 3600 - 60) * 1000) << failure;
    EXPECT_LE(*updater->scheduledCheckDelay(), failure * 3600 * 1000);
  }
  EXPECT_EQ(alerts.titles(), std::vector<std::string>{L("update.available_title", "1.3.0")});
  EXPECT_FALSE(settings.object(Updater::failedVersionKey));
  server.route("/flaky", {200, package, ""});
  EXPECT_TRUE(scheduledDownload(*updater));
  EXPECT_EQ(readFile(downloads / "flaky"), package);
  EXPECT_LE(*updater->scheduledCheckDelay(), 3600 * 1000);
}

} // namespace
