#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <QObject>
#include <QTimer>

#include "app/alert_presenter.h"
#include "core/settings.h"
#include "core/settings_store.h"
#include "platform/dispatcher.h"
#include "platform/http_transport.h"

// One release as announced by the feed, a JSON object:
// {"version": "1.2.0", "notes": "...", "url": "https://...", "sha256": "<64 hex digits>"}.
struct ReleaseAnnouncement {
  std::string version;
  std::string notes;
  std::string url;
  std::string sha256; // lower-case hex
};

// Where the updater looks and what it compares against.
struct UpdaterConfiguration {
  std::string feedUrl;
  std::string currentVersion;
  std::filesystem::path downloadFolder;
  // False in a build without network features: the updater never checks.
  bool networkFeatures = true;
};

// The program's own small updater. It checks a release feed on a schedule of its own (never
// more often than hourly), tells the user about a newer release, and when allowed downloads
// it into the download folder, checking its SHA-256 first. The feed is read through the
// HTTP transport on a background thread; so is the package, streamed to disk.
class Updater : public QObject {
  Q_OBJECT

 public:
  static constexpr const char* automaticChecksKey = setting_keys::updaterAutomaticChecks.name;
  static constexpr const char* automaticDownloadsKey = setting_keys::updaterAutomaticDownloads.name;
  static constexpr const char* lastCheckKey = setting_keys::updaterLastCheck.name;
  // A version whose package failed its checksum: not fetched again on schedule.
  static constexpr const char* failedVersionKey = setting_keys::updaterFailedVersion.name;
  // A version whose package the feed placed anywhere but on the feed's own scheme, host and
  // port: never fetched.
  static constexpr const char* refusedVersionKey = setting_keys::updaterRefusedVersion.name;
  static constexpr double minimumCheckInterval = 3600;

  // All references must outlive the updater.
  Updater(HttpTransport& transport, Dispatcher& dispatcher, SettingsStore& settings,
          AlertPresenter& alerts, UpdaterConfiguration configuration, QObject* parent = nullptr);
  ~Updater() override;

  // Starts the schedule: the next automatic check is due one interval after the last one, or
  // after this start on a fresh install. Best called once the first-launch question is answered.
  void startUpdater();
  // At quit: stops the schedule. A package download under way ends with the transport's.
  void shutdown();

  double updateCheckInterval() const { return interval_; }
  // Seconds; anything shorter than an hour counts as an hour.
  void setUpdateCheckInterval(double seconds);

  // A missing checks key reads as on; a missing downloads key reads as the checks switch, so
  // that the two agree on a fresh install.
  bool automaticallyChecksForUpdates() const;
  void setAutomaticallyChecksForUpdates(bool value);
  bool automaticallyDownloadsUpdates() const;
  void setAutomaticallyDownloadsUpdates(bool value);
  // What the settings box shows and sets: both switches, which always change together. On
  // exactly when scheduled checks happen.
  bool automaticUpdates() const;
  void setAutomaticUpdates(bool value);

  // The user asked: the answer always comes as a dialog, failures included.
  void checkForUpdates();

  // Opens the link to a release; the desktop's browser by default.
  void setUrlOpener(std::function<void(const std::string&)> opener) {
    openUrl_ = std::move(opener);
  }

  // Milliseconds until the next automatic check, or nothing when none is scheduled.
  std::optional<int> scheduledCheckDelay() const;

  static std::optional<ReleaseAnnouncement> parseFeed(const std::string& body);
  // Negative, zero or positive as left is older, equal or newer; nothing when either is not a
  // dotted list of numbers.
  static std::optional<int> compareVersions(const std::string& left, const std::string& right);

 signals:
  // A check has been answered (or failed) and its dialogs, if any, are done.
  void checkFinished();
  // An automatic download ended; the file is kept only when verified.
  void downloadFinished(bool verified, const QString& path);

 private:
  struct Download {
    bool verified = false;
    std::filesystem::path path;
  };

  void check(bool userInitiated);
  void feedArrived(const HttpResponse& response);
  void announce(const ReleaseAnnouncement& release);
  void startDownload(const ReleaseAnnouncement& release, bool userInitiated);
  void downloadEnded(const ReleaseAnnouncement& release, const Download& download,
                     bool userInitiated);
  void checkFailed();
  // The package did not arrive: nothing is remembered against the release.
  void transferFailed(const ReleaseAnnouncement& release, bool userInitiated);
  void schedule();
  // Keeps the file under `target`, or the first free name after it, when its SHA-256 is the
  // announced one; else deletes it. Never replaces a file.
  static Download verify(const std::filesystem::path& partial, const std::filesystem::path& target,
                         const std::string& sha256);

  HttpTransport& transport_;
  Dispatcher& dispatcher_;
  SettingsStore& settings_;
  AlertPresenter& alerts_;
  UpdaterConfiguration configuration_;
  std::function<void(const std::string&)> openUrl_;
  double interval_ = 86400;
  bool started_ = false;
  bool checking_ = false;
  bool userWaiting_ = false;
  bool downloading_ = false;
  // Scheduled checks tell about one release once per run, not every hour.
  std::string announcedVersion_;
  std::string downloadedVersion_;
  // Packages that did not arrive in a row: each one doubles the wait before the next check.
  int transferFailures_ = 0;
  QTimer timer_;
  // Answers from the background find out through this whether the updater still exists.
  std::shared_ptr<Updater*> self_;
};
