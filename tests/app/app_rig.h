#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QPalette>

#include "app/app_delegate.h"
#include "app/updater.h"
#include "core/eject_settings.h"
#include "core/settings_store.h"
#include "platform/fake/fake_code_signature.h"
#include "platform/fake/fake_login_item.h"
#include "tests/app/fake_display_environment.h"
#include "tests/app/scripted_alert_presenter.h"
#include "tests/core/eject_engine_rig.h"

// No network in these tests: every request fails at once.
class UnreachableHttpTransport : public HttpTransport {
 public:
  HttpResponse send(const HttpRequest&) override { return {}; }
};

// The whole shell over fakes: engine platform, alerts, desktop, signature and updater.
struct AppRig {
  EngineRig engineRig;
  std::unique_ptr<EjectEngine> engine;
  ScriptedAlertPresenter alerts;
  FakeDisplayEnvironment display;
  FakeCodeSignature signature;
  FakeLoginItem loginItem;
  UnreachableHttpTransport transport;
  std::unique_ptr<Updater> updater;
  std::map<std::string, std::string> environment;
  std::optional<int> exitStatus;
  int crashReporterInstalls = 0;
  std::function<void()> onCrashReporterInstall; // runs at each install, when set
  std::unique_ptr<AppDelegate> delegate;

  static constexpr const char* timeMachineMount = "/media/user/Backups";

  AppRig() {
    SettingsStore& defaults = SettingsStore::shared();
    for (const char* key :
         {AppDelegate::menuBarModeKey, AppDelegate::onboardedKey,
          EjectSettings::protectTimeMachineKey, EjectSettings::ejectDiskImagesKey,
          EjectSettings::statusColorKey, Updater::automaticDownloadsKey, Updater::lastCheckKey}) {
      defaults.remove(key);
    }
    defaults.set(Updater::automaticChecksKey, false);
    defaults.set(AppDelegate::onboardedKey, true);
  }

  ~AppRig() {
    delegate.reset();
    flushEvents();
  }

  // Mount table: "USB" and "Photos" plain disks, a disk image, a Time Machine disk.
  void mount(bool usb, bool photos, bool image, bool timeMachine) {
    std::vector<FakeVolumeSource::Entry> entries;
    if (usb)
      entries.push_back({"/media/user/USB", FakeVolumeSource::external("USB")});
    if (photos)
      entries.push_back({"/media/user/Photos", FakeVolumeSource::external("Photos")});
    if (image) {
      entries.push_back({"/media/user/Image", FakeVolumeSource::external("Image")});
      engineRig.describer.setDiskImage("/media/user/Image");
    }
    if (timeMachine) {
      entries.push_back({timeMachineMount, FakeVolumeSource::external("Backups")});
      engineRig.runner.setOutput({"destinationinfo", "-X"}, destinationInfo());
    }
    engineRig.source.setVolumes(entries);
  }

  static std::string destinationInfo() {
    return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                       "<plist version=\"1.0\"><dict><key>Destinations</key><array><dict>"
                       "<key>MountPoint</key><string>") +
           timeMachineMount + "</string></dict></array></dict></plist>\n";
  }

  void setBackupRunning(std::optional<bool> running) {
    if (!running) {
      engineRig.runner.setOutput({"status"}, "");
      return;
    }
    engineRig.runner.setOutput({"status"},
                               *running ? "Backup session status:\n{\n    Running = 1;\n}\n"
                                        : "Backup session status:\n{\n    Running = 0;\n}\n");
  }

  AppDelegate& make() {
    engine = engineRig.makeEngine();
    updater = std::make_unique<Updater>(
        transport, engineRig.dispatcher, SettingsStore::shared(), alerts,
        UpdaterConfiguration{"https://updates.invalid/feed.json", "1.0.0", "/nonexistent"});
    AppDelegate::Collaborators collaborators{
        *engine,
        alerts,
        display,
        signature,
        *updater,
        [this]() {
          ++crashReporterInstalls;
          if (onCrashReporterInstall)
            onCrashReporterInstall();
        },
        [this](int status) { exitStatus = status; },
        [this](const std::string& name) -> std::optional<std::string> {
          const auto found = environment.find(name);
          if (found == environment.end())
            return std::nullopt;
          return found->second;
        }};
    delegate = std::make_unique<AppDelegate>(std::move(collaborators));
    // Never the desktop's own autostart folder.
    delegate->loginItemService = &loginItem;
    return *delegate;
  }

  AppDelegate& launch() {
    make();
    delegate->applicationDidFinishLaunching();
    flushEvents();
    return *delegate;
  }

  // Runs the engine's queues and Qt's posted events until both are quiet.
  void settle() {
    for (int round = 0; round < 10; ++round) {
      const int ran = engineRig.dispatcher.drainAll();
      flushEvents();
      if (ran == 0)
        break;
    }
  }

  static void flushEvents() {
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
  }

  int alertsTitled(const std::string& title) const {
    int count = 0;
    for (const Alert& alert : alerts.shown) {
      count += alert.title == title ? 1 : 0;
    }
    return count;
  }
};

// A named child of `parent`, or null.
template <typename T = QWidget> T* childNamed(const QWidget* parent, const char* name) {
  return parent->findChild<T*>(QString::fromLatin1(name));
}

// The first item of `menu` with that title, or null.
inline QAction* actionTitled(const QMenu& menu, const std::string& title) {
  for (QAction* action : menu.actions()) {
    if (action->text().toStdString() == title)
      return action;
  }
  return nullptr;
}

inline QPalette darkPalette() {
  QPalette dark;
  dark.setColor(QPalette::Window, QColor(40, 40, 44));
  dark.setColor(QPalette::WindowText, QColor(235, 235, 240));
  dark.setColor(QPalette::Base, QColor(30, 30, 33));
  dark.setColor(QPalette::Text, QColor(235, 235, 240));
  return dark;
}
