#include "app/desktop_application.h"

#include <QApplication>
#include <QIcon>
#include <QMainWindow>
#include <QStandardPaths>
#include <QTimer>

#include "app/app_delegate.h"
#include "app/qt_alert_presenter.h"
#include "app/qt_dispatcher.h"
#include "app/qt_display_environment.h"
#include "app/single_instance.h"
#include "app/updater.h"
#include "build_config.h"
#include "core/crash/crash_reporter.h"
#include "core/eject_engine.h"
#include "core/settings_store.h"
#include "core/support/network_queue.h"
#include "core/support/shared_http_transport.h"
#include "core/support/support_client.h"
#include "platform/linux/apport_crash_reports.h"
#include "platform/linux/curl_http_transport.h"
#include "platform/linux/libmount_volume_monitor.h"
#include "platform/linux/libmount_volume_source.h"
#include "platform/linux/linux_disk_describer.h"
#include "platform/linux/posix_process_runner.h"
#include "platform/linux/system_ejector.h"
#include "platform/linux/unsigned_code_signature.h"
#include "views/symbols.h"

int runDesktopApplication(int argc, char** argv) {
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
  AppDelegate::applyActivationPolicyAtStart();

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

  LibmountVolumeSource volumeSource;
  LinuxDiskDescriber diskDescriber{volumeSource};
  PosixProcessRunner processRunner;
  LibmountVolumeMonitor volumeMonitor;
  SystemEjector ejector;
  EjectEngine engine(EnginePlatform{
      .volumeSource = volumeSource,
      .diskDescriber = diskDescriber,
      .processRunner = processRunner,
      .ejector = ejector,
      .dispatcher = dispatcher,
      .volumeMonitor = &volumeMonitor,
      .timeMachineTool = "/usr/bin/tmutil",
      .environment = {},
  });

  QtDisplayEnvironment display;
  AppDelegate* delegate = nullptr;
  QtAlertPresenter alerts(display, [&delegate]() -> QWidget* {
    return delegate != nullptr ? delegate->mainWindow.data() : nullptr;
  });
  Updater updater(
      transport, network, SettingsStore::shared(), alerts,
      UpdaterConfiguration{
          build_config::updateFeedUrl,
          build_config::version,
          QStandardPaths::writableLocation(QStandardPaths::DownloadLocation).toStdString(),
      });
  UnsignedCodeSignature codeSignature;

  AppDelegate shell(AppDelegate::Collaborators{
      engine, alerts, display, codeSignature, updater, []() { CrashReporter::install(); }, {}, {}});
  delegate = &shell;

  QObject::connect(&instance, &SingleInstance::reopenRequested, &shell, [&shell]() {
    bool hasVisibleWindows = false;
    for (QWidget* window : QApplication::topLevelWidgets()) {
      hasVisibleWindows = hasVisibleWindows || (window->isWindow() && window->isVisible() &&
                                                window->windowType() != Qt::Popup);
    }
    shell.applicationShouldHandleReopen(hasVisibleWindows);
  });

  // Launching has finished once the event loop runs.
  QTimer::singleShot(0, &shell, [&shell]() { shell.applicationDidFinishLaunching(); });
  const int status = QApplication::exec();

  // Nothing may reach the shell while the rest goes away; quitting never waits on a server.
  volumeMonitor.stop();
  updater.shutdown();
  network.shutdown();
  dispatcher.waitForBackground();
  SupportClient::shared().setDispatcher(nullptr);
  CrashReporter::configure(CrashReporter::standardSetup(&systemReports, nullptr));
  return status;
}
