#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include <QAction>
#include <QCoreApplication>
#include <QEvent>
#include <QMenu>
#include <QRegularExpression>

#include "app/application.h"
#include "app/tray_icon.h"
#include "app/support/launcher_badge.h"
#include "app/updater.h"
#include "core/settings.h"
#include "platform/fake/fake_code_signature.h"
#include "platform/fake/fake_desktop_notifier.h"
#include "platform/fake/fake_login_item.h"
#include "tests/app/fake_display_environment.h"
#include "tests/app/scripted_alert_presenter.h"
#include "tests/core/eject_engine_rig.h"
#include "tests/core/support/message_client_rig.h"

class RecordingLauncherBadge : public LauncherBadge {
 public:
  void setUnread(bool unread) override { states.push_back(unread); }
  std::vector<bool> states;
};

// The shell over fake engine, alerts and desktop; support talks to a real loopback server. One
// settings store, the support rig's, serves every part.
struct AppRig {
  EngineRig engineRig;
  std::unique_ptr<EjectEngine> engine;
  ScriptedAlertPresenter alerts;
  FakeDisplayEnvironment display;
  FakeCodeSignature signature;
  FakeLoginItem loginItem;
  FakeDesktopNotifier notifier;
  std::unique_ptr<Updater> updater;
  MessageClientRig messages;
  LoopbackHttpServer& server = messages.server;
  RecordingLauncherBadge badge;
  Settings settings{*messages.store};
  std::unique_ptr<SupportClient> client;
  std::unique_ptr<Application> application;
  int quits = 0;

  static constexpr const char* backupMount = "/media/user/Backups";

  AppRig() {
    settings.set(setting_keys::updaterAutomaticChecks, false);
    server.answer(200, MessageClientRig::offer("none", 0, ""));
    client = messages.makeClient();
  }

  ~AppRig() {
    application.reset();
    flushEvents();
  }

  // "USB" and "Photos" plain disks, a backup disk.
  void mount(bool usb, bool photos, bool backup) {
    std::vector<FakeVolumeSource::Entry> entries;
    if (usb)
      entries.push_back({"/media/user/USB", FakeVolumeSource::external("USB")});
    if (photos)
      entries.push_back({"/media/user/Photos", FakeVolumeSource::external("Photos")});
    if (backup) {
      entries.push_back({backupMount, FakeVolumeSource::external("Backups")});
      engineRig.runner.setOutput({"destinationinfo", "-X"},
                                 std::string("<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>"
                                             "<key>Destinations</key><array><dict><key>MountPoint"
                                             "</key><string>") +
                                     backupMount + "</string></dict></array></dict></plist>\n");
    }
    engineRig.source.setVolumes(entries);
  }

  Application& make() {
    engine = engineRig.makeEngine(settings);
    updater = std::make_unique<Updater>(
        messages.transport, engineRig.dispatcher, settings.store(), alerts,
        UpdaterConfiguration{"https://updates.invalid/feed.json", "1.0.0", "/nonexistent"});
    application = std::make_unique<Application>(Application::Services{
        .engine = *engine,
        .settings = settings,
        .alerts = alerts,
        .display = display,
        .codeSignature = signature,
        .updater = *updater,
        .supportClient = *client,
        .launcherBadge = badge,
        .loginItem = loginItem,
        .notifier = notifier,
        .dispatcher = engineRig.dispatcher,
        .installCrashReporter = installCrashReporter,
        .exitProcess = {},
        .environment = {},
        .systemLog = {},
        .openUrl = {},
        .endEventLoop = [this]() { ++quits; },
    });
    return *application;
  }

  std::vector<std::string> ejected() const { return engineRig.ejector.ejectedPaths(); }

  Application& launch() {
    make();
    application->launch();
    flushEvents();
    return *application;
  }

  // Runs the engine's queues and Qt's posted events until both are quiet.
  void settle() {
    for (int round = 0; round < 20; ++round) {
      const int ran = engineRig.dispatcher.drainAll() + messages.dispatcher.drainAll();
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

  // The tray menu as a host sees it when it opens.
  QMenu& openTrayMenu() {
    QMenu& menu = *application->trayIcon().menu();
    emit menu.aboutToShow();
    return menu;
  }

  std::function<void()> installCrashReporter;
};

// What a menu shows for an item's text: "&&" is one "&", a lone "&" marks the next letter.
inline std::string shownText(const QAction& action) {
  static const QRegularExpression mark(QStringLiteral("&(.)"),
                                       QRegularExpression::DotMatchesEverythingOption);
  return action.text().replace(mark, QStringLiteral("\\1")).toStdString();
}

inline QAction* itemShowing(const QMenu& menu, const std::string& shown) {
  for (QAction* action : menu.actions()) {
    // A long name is shortened on screen and given in full in the tooltip.
    if (!action->isSeparator() &&
        (shownText(*action) == shown || action->toolTip().toStdString() == shown)) {
      return action;
    }
  }
  return nullptr;
}
