#include "app/updater.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QSignalSpy>
#include <QTest>

#include "app/qt_dispatcher.h"
#include "core/localization.h"
#include "platform/linux/curl_http_transport.h"
#include "tests/app/scripted_alert_presenter.h"
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
  void announce(const std::string& version, const std::string& path, const std::string& sha) {
    server.route("/feed.json", {200,
                                R"({"version":")" + version + R"(","notes":"Faster.","url":")" +
                                    server.url(path) + R"(","sha256":")" + sha + "\"}",
                                ""});
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
  announce("1.3.0", "/latest", sha256Of(package));
  alerts.shown.clear();
  QSignalSpy downloaded(updater.get(), &Updater::downloadFinished);
  check(*updater, true); // the first button: Get It
  ASSERT_TRUE(downloaded.wait(10000));
  ASSERT_EQ(alerts.shown.size(), 2u);
  EXPECT_EQ(alerts.shown[1].title, L("update.downloaded_title", "1.3.0"));
  EXPECT_TRUE(std::filesystem::exists(downloads / "latest"));
}

TEST_F(UpdaterTest, ScheduledDownload_KeptOnlyWhenVerifiedFromTheSameHostAndAFailureNotRepeated) {
  const std::tuple<std::string, std::string, bool> packages[] = {
      {"/latest", sha256Of(package), true},
      {"/elsewhere", sha256Of(package), false},
      {"/VarneloEject-1.3.0.run", sha256Of("something else"), false}};
  for (const auto& [path, sha, kept] : packages) {
    settings.remove(Updater::failedVersionKey);
    auto updater = makeUpdater();
    announce("1.3.0", path, sha);
    QSignalSpy downloaded(updater.get(), &Updater::downloadFinished);
    check(*updater, false);
    ASSERT_TRUE(downloaded.count() > 0 || downloaded.wait(10000)) << path;
    EXPECT_EQ(downloaded.at(0).at(0).toBool(), kept) << path;
    EXPECT_EQ(std::filesystem::exists(downloads / "latest"), kept);
    std::filesystem::remove_all(downloads / "latest");
    if (!kept) {
      const auto before = server.received().size();
      check(*updater, false);
      EXPECT_EQ(server.received().size(), before + 1) << "the feed only, no second download";
    }
  }
  EXPECT_TRUE(other.received().empty());
  EXPECT_TRUE(alerts.shown.size() == 1u &&
              alerts.shown[0].title == L("update.downloaded_title", "1.3.0"));
}

} // namespace
