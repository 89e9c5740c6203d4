#include "app/desktop_application.h"

#include <syslog.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include <QApplication>
#include <QIcon>
#include <QStandardPaths>
#include <QTimer>

#include "app/application.h"
#include "app/display_mode_controller.h"
#include "app/main_window.h"
#include "app/qt_alert_presenter.h"
#include "app/qt_dispatcher.h"
#include "app/qt_display_environment.h"
#include "app/single_instance.h"
#include "app/support/unity_launcher_badge.h"
#include "app/updater.h"
#include "build_config.h"
#include "core/crash/crash_reporter.h"
#include "core/eject_engine.h"
#include "core/localization.h"
#include "core/settings_store.h"
#include "core/support/network_queue.h"
#include "core/support/shared_http_transport.h"
#include "core/support/support_client.h"
#include "platform/linux/apport_crash_reports.h"
#include "platform/linux/curl_http_transport.h"
#include "platform/linux/freedesktop_notifier.h"
#include "platform/linux/libmount_volume_monitor.h"
#include "platform/linux/libmount_volume_source.h"
#include "platform/linux/linux_disk_describer.h"
#include "platform/linux/posix_process_runner.h"
#include "platform/linux/proc_volume_users.h"
#include "platform/linux/system_ejector.h"
#include "platform/linux/unsigned_code_signature.h"
#include "platform/linux/xdg_autostart_login_item.h"
#include "views/symbols.h"

namespace {

bool isSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

// Qt aborts when it has no display to talk to; we say so and leave instead. A platform chosen
// on the command line or in the environment is Qt's business.
bool displayReachable(int argc, char** argv) {
  if (isSet("QT_QPA_PLATFORM") || isSet("DISPLAY") || isSet("WAYLAND_DISPLAY")) {
    return true;
  }
  for (int index = 1; index < argc; ++index) {
    const std::string_view argument(argv[index]);
    if (argument == "-platform" || argument == "--platform" || argument.starts_with("-platform=") ||
        argument.starts_with("--platform=")) {
      return true;
    }
  }
  return false;
}

} // namespace

int runDesktopApplication(int argc, char** argv) {
  if (!displayReachable(argc, argv)) {
    std::fputs(("varnelo-eject: " + L("app.no_display") + "\n").c_str(), stderr);
    return 1;
  }
  // QApplication takes its own options (-platform, -style, -session...) out of argv.
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("VarneloEject"));
  QApplication::setApplicationVersion(QString::fromLatin1(build_config::version));
  QApplication::setDesktopFileName(QStringLiteral("varnelo-eject"));
  // Looking a symbol up loads the icon resources the window icon comes from.
  if (Symbols::exists(QStringLiteral("eject.fill"))) {
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/varnelo-eject.svg")));
  }

  SingleInstance instance;
  if (!instance.claim()) {
    return 0;
  }
  DisplayModeController::prepareProcess();

  // Requests of the whole program, ours and the core's, go through one transport that lives
  // as long as the process.
  static CurlHttpTransport transport;
  SharedHttpTransport::instance().install(transport);

  QtDispatcher dispatcher;
  // Server checks, replies, reports, crash uploads and update checks run on threads of their
  // own, never in the way of an ejection, and come back through the event loop.
  NetworkQueue network(dispatcher, transport);
  SupportClient::shared().setDispatcher(&network);
  static ApportCrashReports systemReports;
  CrashReporter::configure(CrashReporter::standardSetup(&systemReports, &network));
  // Crashes are caught from here on; what earlier runs left waits for the first-launch answer.
  CrashReporter::installHandlers();

  LibmountVolumeSource volumeSource;
  LinuxDiskDescriber diskDescriber{volumeSource};
  PosixProcessRunner processRunner;
  LibmountVolumeMonitor volumeMonitor;
  SystemEjector ejector;
  ProcVolumeUsers volumeUsers;
  EjectEngine engine(EnginePlatform{
      .volumeSource = volumeSource,
      .diskDescriber = diskDescriber,
      .processRunner = processRunner,
      .ejector = ejector,
      .dispatcher = dispatcher,
      .volumeMonitor = &volumeMonitor,
      .timeMachineTool = "/usr/bin/tmutil",
      .environment = {},
      .volumeUsers = &volumeUsers,
  });

  QtDisplayEnvironment display;
  Application* shell = nullptr;
  QtAlertPresenter alerts(
      display, [&shell]() -> QWidget* { return shell != nullptr ? shell->mainWindow() : nullptr; });
  Updater updater(
      transport, network, SettingsStore::shared(), alerts,
      UpdaterConfiguration{
          build_config::updateFeedUrl,
          build_config::version,
          QStandardPaths::writableLocation(QStandardPaths::DownloadLocation).toStdString(),
          build_config::networkFeatures,
      });
  UnsignedCodeSignature codeSignature;
  FreedesktopNotifier notifier;
  // Kept to the end of the process, past the application object its bus belongs to.
  static auto* launcherBadge = new UnityLauncherBadge();
  XdgAutostartLoginItem loginItem(
      XdgAutostartLoginItem::standardFolder(),
      XdgAutostartLoginItem::Entry{L("app.name"), XdgAutostartLoginItem::runningExecutable(),
                                   "varnelo-eject"});

  Application desktop(Application::Services{
      .engine = engine,
      .alerts = alerts,
      .display = display,
      .codeSignature = codeSignature,
      .updater = updater,
      .supportClient = SupportClient::shared(),
      .launcherBadge = *launcherBadge,
      .loginItem = loginItem,
      .notifier = notifier,
      .dispatcher = dispatcher,
      .installCrashReporter = []() { CrashReporter::install(); },
      .exitProcess = [](int status) { std::exit(status); },
      .environment = [](const std::string& name) -> std::optional<std::string> {
        const char* value = std::getenv(name.c_str());
        return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
      },
      .systemLog =
          [](const std::string& line) { syslog(LOG_USER | LOG_WARNING, "%s", line.c_str()); },
      .openUrl = {},
      .endEventLoop = {},
  });
  shell = &desktop;
  QObject::connect(&instance, &SingleInstance::reopenRequested, &desktop, &Application::reopen);

  // Launching has finished once the event loop runs.
  QTimer::singleShot(0, &desktop, [&desktop]() { desktop.launch(); });
  // Quitting never waits on a server: transfers under way are aborted, queued ones dropped,
  // and whatever asks for the network afterwards (a late crash) finds no queue to wait on.
  QObject::connect(&application, &QCoreApplication::aboutToQuit, &desktop, [&]() {
    updater.shutdown();
    network.shutdown();
    SupportClient::shared().setDispatcher(nullptr);
    CrashReporter::configure(CrashReporter::standardSetup(&systemReports, nullptr));
  });
  const int status = QApplication::exec();

  // Nothing may reach the shell while the rest goes away.
  volumeMonitor.stop();
  dispatcher.waitForBackground();
  return status;
}
