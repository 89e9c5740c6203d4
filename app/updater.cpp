#include "app/updater.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <limits>
#include <system_error>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include <QCryptographicHash>
#include <QDesktopServices>
#include <QFile>
#include <QString>
#include <QUrl>

#include "core/localization.h"

namespace {

constexpr std::chrono::seconds feedTimeout{15};
// A package that has not arrived by then is tried again at a later check.
constexpr std::chrono::minutes packageTimeout{15};
// No release of a small utility comes near this; a larger answer is not ours.
constexpr std::uint64_t maxPackageBytes = std::uint64_t{512} * 1024 * 1024;
constexpr int maxRedirects = 5;
// Failed transfers stretch the wait between checks up to this many intervals.
constexpr int maxBackoffFactor = 16;

// "name.ext", then "name-1.ext", "name-2.ext"...
std::filesystem::path candidateName(const std::filesystem::path& target, int attempt) {
  if (attempt == 0) {
    return target;
  }
  std::filesystem::path name = target.parent_path() / target.stem();
  name += "-" + std::to_string(attempt);
  name += target.extension();
  return name;
}

// Moves `from` to `target` or the first free name after it; never over an existing file.
std::optional<std::filesystem::path> moveToFreeName(const std::filesystem::path& from,
                                                    const std::filesystem::path& target) {
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const std::filesystem::path name = candidateName(target, attempt);
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, name.c_str(), RENAME_NOREPLACE) == 0) {
      return name;
    }
    // A file system without an atomic no-replace rename: a hard link fails the same way.
    if (errno == EINVAL && link(from.c_str(), name.c_str()) == 0) {
      unlink(from.c_str());
      return name;
    }
    if (errno != EEXIST) {
      return std::nullopt;
    }
  }
  return std::nullopt;
}

std::optional<std::vector<unsigned long>> versionParts(const std::string& version) {
  std::vector<unsigned long> parts;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = version.find('.', start);
    const std::string part = version.substr(start, end == std::string::npos ? end : end - start);
    unsigned long value = 0;
    const auto [rest, error] = std::from_chars(part.data(), part.data() + part.size(), value);
    if (part.empty() || error != std::errc{} || rest != part.data() + part.size()) {
      return std::nullopt;
    }
    parts.push_back(value);
    if (end == std::string::npos) {
      return parts;
    }
    start = end + 1;
  }
}

bool isSha256Hex(const std::string& text) {
  return text.size() == 64 && std::all_of(text.begin(), text.end(),
                                          [](unsigned char c) { return std::isxdigit(c) != 0; });
}

std::string lowerCase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// The file name the package is saved under: the last part of its address, or a name of our
// own when that part is empty or could step out of the folder.
std::string packageFileName(const ReleaseAnnouncement& release) {
  const QString fileName = QUrl(QString::fromStdString(release.url)).fileName();
  if (fileName.isEmpty() || fileName == QStringLiteral(".") || fileName == QStringLiteral("..") ||
      fileName.contains(QLatin1Char('/'))) {
    return "VarneloEject-" + release.version;
  }
  return fileName.toStdString();
}

// Whether the address has the feed's scheme, host and port.
bool sameOrigin(const std::string& feedUrl, const std::string& url) {
  const QUrl feed(QString::fromStdString(feedUrl));
  const QUrl package(QString::fromStdString(url));
  const int defaultPort = feed.scheme() == QStringLiteral("https") ? 443 : 80;
  return package.isValid() && package.scheme() == feed.scheme() &&
         package.host().compare(feed.host(), Qt::CaseInsensitive) == 0 &&
         package.port(defaultPort) == feed.port(defaultPort);
}

enum class Fetched { complete, refused, failed };

// The package into `file`, following redirects that stay on the feed's origin; one that
// leaves it is a refusal, not a bad network.
Fetched fetchPackage(HttpTransport& transport, const std::string& feedUrl, std::string url,
                     int file) {
  for (int redirect = 0; redirect <= maxRedirects; ++redirect) {
    if (::ftruncate(file, 0) != 0 || ::lseek(file, 0, SEEK_SET) != 0) {
      return Fetched::failed;
    }
    HttpRequest request;
    request.url = url;
    request.method = "GET";
    request.timeout = packageTimeout;
    request.bodyFile = file;
    request.maxFileBytes = maxPackageBytes;
    const HttpResponse response = transport.send(request);
    if (response.transferred && response.status == 200) {
      return ::fsync(file) == 0 ? Fetched::complete : Fetched::failed;
    }
    if (!response.transferred || response.status / 100 != 3 || response.location.empty()) {
      return Fetched::failed;
    }
    if (!sameOrigin(feedUrl, response.location)) {
      return Fetched::refused;
    }
    url = response.location;
  }
  return Fetched::failed;
}

std::optional<std::string> readString(const nlohmann::json& object, const char* key) {
  const auto found = object.find(key);
  if (found == object.end() || !found->is_string()) {
    return std::nullopt;
  }
  return found->get<std::string>();
}

} // namespace

Updater::Updater(HttpTransport& transport, Dispatcher& dispatcher, SettingsStore& settings,
                 AlertPresenter& alerts, UpdaterConfiguration configuration, QObject* parent)
    : QObject(parent), transport_(transport), dispatcher_(dispatcher), settings_(settings),
      alerts_(alerts), configuration_(std::move(configuration)),
      openUrl_([](const std::string& url) {
        QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
      }),
      self_(std::make_shared<Updater*>(this)) {
  timer_.setSingleShot(true);
  connect(&timer_, &QTimer::timeout, this, [this]() { check(false); });
}

Updater::~Updater() {
  *self_ = nullptr;
}

void Updater::startUpdater() {
  started_ = true;
  schedule();
}

void Updater::setUpdateCheckInterval(double seconds) {
  interval_ = std::max(seconds, minimumCheckInterval);
  schedule();
}

bool Updater::automaticallyChecksForUpdates() const {
  return configuration_.networkFeatures &&
         (settings_.object(automaticChecksKey) ? settings_.boolean(automaticChecksKey) : true);
}

void Updater::setAutomaticallyChecksForUpdates(bool value) {
  settings_.set(automaticChecksKey, value);
  schedule();
}

bool Updater::automaticallyDownloadsUpdates() const {
  return settings_.object(automaticDownloadsKey) ? settings_.boolean(automaticDownloadsKey)
                                                 : automaticallyChecksForUpdates();
}

bool Updater::automaticUpdates() const {
  return automaticallyChecksForUpdates() && automaticallyDownloadsUpdates();
}

void Updater::setAutomaticUpdates(bool value) {
  setAutomaticallyChecksForUpdates(value);
  setAutomaticallyDownloadsUpdates(value);
}

void Updater::shutdown() {
  started_ = false;
  timer_.stop();
}

void Updater::setAutomaticallyDownloadsUpdates(bool value) {
  settings_.set(automaticDownloadsKey, value);
}

void Updater::checkForUpdates() {
  check(true);
}

std::optional<int> Updater::scheduledCheckDelay() const {
  if (!timer_.isActive()) {
    return std::nullopt;
  }
  return timer_.remainingTime();
}

void Updater::schedule() {
  timer_.stop();
  if (!started_ || !automaticallyChecksForUpdates()) {
    return;
  }
  using namespace std::chrono;
  const auto now = system_clock::now();
  const int factor =
      std::min(1 << std::min(std::max(transferFailures_ - 1, 0), 4), maxBackoffFactor);
  const auto interval = duration_cast<milliseconds>(duration<double>(interval_ * factor));
  auto delay = milliseconds::zero();
  if (const auto stored = settings_.object(lastCheckKey)) {
    if (const auto* last = stored->as<SettingsValue::Date>()) {
      // A last check in the future (the clock was set back) counts as one made just now.
      const auto since = std::max(duration_cast<milliseconds>(now - *last), milliseconds::zero());
      delay = std::max(interval - since, milliseconds::zero());
    }
  } else {
    // A fresh install fetches nothing on its first launch, while the first-launch question is
    // open: its first check comes one interval later.
    settings_.set(lastCheckKey, SettingsValue(now));
    delay = interval;
  }
  const auto longest = milliseconds(std::numeric_limits<int>::max());
  timer_.start(static_cast<int>(std::min(delay, longest).count()));
}

void Updater::check(bool userInitiated) {
  if (!configuration_.networkFeatures) {
    return;
  }
  if (checking_) {
    // One request at a time; the user still gets the answer of the one under way.
    userWaiting_ = userWaiting_ || userInitiated;
    return;
  }
  checking_ = true;
  userWaiting_ = userInitiated;
  timer_.stop();
  settings_.set(lastCheckKey, SettingsValue(std::chrono::system_clock::now()));

  HttpRequest request;
  request.url = configuration_.feedUrl;
  request.method = "GET";
  request.timeout = feedTimeout;
  auto self = self_;
  HttpTransport& transport = transport_;
  Dispatcher& dispatcher = dispatcher_;
  dispatcher_.runInBackground([self, request, &transport, &dispatcher]() {
    HttpResponse response = transport.send(request);
    dispatcher.runOnMain([self, response = std::move(response)]() {
      if (Updater* updater = *self) {
        updater->feedArrived(response);
      }
    });
  });
}

void Updater::feedArrived(const HttpResponse& response) {
  const bool userInitiated = userWaiting_;
  std::optional<ReleaseAnnouncement> release;
  if (response.transferred && response.status == 200) {
    release = parseFeed(response.body);
  }
  if (!release) {
    checkFailed();
    return;
  }
  const auto order = compareVersions(release->version, configuration_.currentVersion);
  if (!order) {
    checkFailed();
    return;
  }
  checking_ = false;
  userWaiting_ = false;
  schedule();

  if (*order <= 0) {
    if (userInitiated) {
      alerts_.present({Alert::Style::informational,
                       L("update.up_to_date_title"),
                       L("update.up_to_date_message", configuration_.currentVersion),
                       {L("common.ok")},
                       std::nullopt});
    }
  } else if (userInitiated) {
    announce(*release);
  } else if (release->version != downloadedVersion_ &&
             settings_.string(failedVersionKey) != release->version &&
             settings_.string(refusedVersionKey) != release->version) {
    if (automaticallyDownloadsUpdates()) {
      startDownload(*release, false);
    } else if (release->version != announcedVersion_) {
      announcedVersion_ = release->version;
      announce(*release);
    }
  }
  emit checkFinished();
}

void Updater::checkFailed() {
  const bool userInitiated = userWaiting_;
  checking_ = false;
  userWaiting_ = false;
  schedule();
  // A scheduled check that fails stays quiet; the next one will try again.
  if (userInitiated) {
    alerts_.present({Alert::Style::warning,
                     L("update.check_failed_title"),
                     L("update.check_failed_message"),
                     {L("common.ok")},
                     std::nullopt});
  }
  emit checkFinished();
}

void Updater::announce(const ReleaseAnnouncement& release) {
  std::string message =
      L("update.available_message", release.version, configuration_.currentVersion);
  if (!release.notes.empty()) {
    message += "\n\n" + release.notes;
  }
  const int answer = alerts_.present({Alert::Style::informational,
                                      L("update.available_title", release.version),
                                      message,
                                      {L("update.get_button"), L("update.later_button")},
                                      std::nullopt});
  // The package is fetched and checked here, never handed to the browser unchecked.
  if (answer == 0) {
    startDownload(release, true);
  }
}

void Updater::startDownload(const ReleaseAnnouncement& release, bool userInitiated) {
  if (downloading_) {
    return;
  }
  downloading_ = true;
  if (!sameOrigin(configuration_.feedUrl, release.url)) {
    settings_.set(refusedVersionKey, release.version);
    downloadEnded(release, {}, userInitiated);
    return;
  }
  std::error_code error;
  std::filesystem::create_directories(configuration_.downloadFolder, error);
  const std::filesystem::path target = configuration_.downloadFolder / packageFileName(release);
  // Written only into a file of our own making: never through a link, never over a file.
  std::filesystem::path partial;
  int file = -1;
  for (int attempt = 0; attempt < 100 && file < 0; ++attempt) {
    partial = candidateName(target, attempt);
    partial += ".part";
    file = ::open(partial.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (file < 0 && errno != EEXIST) {
      break;
    }
  }
  if (file < 0) {
    transferFailed(release, userInitiated);
    return;
  }
  auto self = self_;
  HttpTransport& transport = transport_;
  Dispatcher& dispatcher = dispatcher_;
  dispatcher_.runInBackground([=, &transport, &dispatcher, feed = configuration_.feedUrl]() {
    const Fetched fetched = fetchPackage(transport, feed, release.url, file);
    ::close(file);
    Download download;
    if (fetched == Fetched::complete) {
      download = verify(partial, target, release.sha256);
    } else {
      std::error_code ignored;
      std::filesystem::remove(partial, ignored);
    }
    dispatcher.runOnMain([=]() {
      Updater* updater = *self;
      if (updater == nullptr) {
        return;
      }
      if (fetched == Fetched::refused) {
        updater->settings_.set(refusedVersionKey, release.version);
      }
      if (fetched == Fetched::failed) {
        updater->transferFailed(release, userInitiated);
      } else {
        updater->downloadEnded(release, download, userInitiated);
      }
    });
  });
}

Updater::Download Updater::verify(const std::filesystem::path& partial,
                                  const std::filesystem::path& target, const std::string& sha256) {
  Download download;
  std::error_code error;
  // The hash is taken of what landed on disk, not of what arrived, so a short write shows too.
  QFile file(QString::fromStdString(partial.string()));
  QCryptographicHash hash(QCryptographicHash::Sha256);
  const bool read = file.open(QIODevice::ReadOnly) && hash.addData(&file);
  file.close();
  if (!read || hash.result().toHex().toStdString() != sha256) {
    std::filesystem::remove(partial, error);
    return download;
  }
  const std::optional<std::filesystem::path> kept = moveToFreeName(partial, target);
  if (!kept) {
    std::filesystem::remove(partial, error);
    return download;
  }
  download.verified = true;
  download.path = *kept;
  return download;
}

void Updater::transferFailed(const ReleaseAnnouncement& release, bool userInitiated) {
  downloading_ = false;
  emit downloadFinished(false, {});
  // Tried again at the next check, a little later each time; the user still hears of it.
  ++transferFailures_;
  schedule();
  if (userInitiated) {
    alerts_.present({Alert::Style::warning,
                     L("update.download_failed_title"),
                     L("update.download_failed_message", release.version),
                     {L("common.ok")},
                     std::nullopt});
  } else if (release.version != announcedVersion_) {
    announcedVersion_ = release.version;
    announce(release);
  }
}

void Updater::downloadEnded(const ReleaseAnnouncement& release, const Download& download,
                            bool userInitiated) {
  downloading_ = false;
  emit downloadFinished(download.verified, QString::fromStdString(download.path.string()));
  if (std::exchange(transferFailures_, 0) > 0) {
    schedule();
  }
  // A tampered (or refused) package is dropped and its version not fetched again on schedule;
  // the user who asked for it is told.
  if (!download.verified) {
    if (settings_.string(refusedVersionKey) != release.version) {
      settings_.set(failedVersionKey, release.version);
    }
    if (userInitiated) {
      alerts_.present({Alert::Style::warning,
                       L("update.download_failed_title"),
                       L("update.download_failed_message", release.version),
                       {L("common.ok")},
                       std::nullopt});
    }
    return;
  }
  downloadedVersion_ = release.version;
  const int answer =
      alerts_.present({Alert::Style::informational,
                       L("update.downloaded_title", release.version),
                       L("update.downloaded_message", release.version, download.path.string()),
                       {L("update.show_in_folder_button"), L("common.ok")},
                       std::nullopt});
  if (answer == 0 && openUrl_) {
    openUrl_(QUrl::fromLocalFile(QString::fromStdString(download.path.parent_path().string()))
                 .toString()
                 .toStdString());
  }
}

std::optional<ReleaseAnnouncement> Updater::parseFeed(const std::string& body) {
  const nlohmann::json feed = nlohmann::json::parse(body, nullptr, false);
  if (feed.is_discarded() || !feed.is_object()) {
    return std::nullopt;
  }
  const auto version = readString(feed, "version");
  const auto url = readString(feed, "url");
  const auto sha256 = readString(feed, "sha256");
  if (!version || !versionParts(*version) || !url || !sha256 || !isSha256Hex(*sha256)) {
    return std::nullopt;
  }
  const QUrl address(QString::fromStdString(*url));
  if (!address.isValid() ||
      (address.scheme() != QStringLiteral("https") && address.scheme() != QStringLiteral("http"))) {
    return std::nullopt;
  }
  ReleaseAnnouncement release;
  release.version = *version;
  release.notes = readString(feed, "notes").value_or("");
  release.url = *url;
  release.sha256 = lowerCase(*sha256);
  return release;
}

std::optional<int> Updater::compareVersions(const std::string& left, const std::string& right) {
  auto leftParts = versionParts(left);
  auto rightParts = versionParts(right);
  if (!leftParts || !rightParts) {
    return std::nullopt;
  }
  // "1.2" and "1.2.0" are the same release.
  const std::size_t length = std::max(leftParts->size(), rightParts->size());
  leftParts->resize(length, 0);
  rightParts->resize(length, 0);
  if (*leftParts < *rightParts) {
    return -1;
  }
  return *leftParts == *rightParts ? 0 : 1;
}
