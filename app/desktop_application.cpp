#include "app/desktop_application.h"

#include <netdb.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstddef>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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
#include "core/settings.h"
#include "core/settings_store.h"
#include "core/support/network_queue.h"
#include "core/support/shared_http_transport.h"
#include "core/support/support_client.h"
#include "platform/linux/apport_crash_reports.h"
#include "platform/linux/child_process_http_transport.h"
#include "platform/linux/freedesktop_notifier.h"
#include "platform/linux/libmount_volume_monitor.h"
#include "platform/linux/libmount_volume_source.h"
#include "platform/linux/linux_disk_describer.h"
#include "platform/linux/posix_process_runner.h"
#include "platform/linux/proc_volume_users.h"
#include "platform/linux/running_program.h"
#include "platform/linux/system_ejector.h"
#include "platform/linux/unsigned_code_signature.h"
#include "platform/linux/xdg_autostart_login_item.h"
#include "views/symbols.h"

namespace {

bool isSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

// True when something accepts a connection there; a leading '@' names an abstract socket.
bool socketAnswers(const std::string& path) {
  sockaddr_un address{};
  if (path.empty() || path.size() >= sizeof(address.sun_path)) {
    return false;
  }
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.data(), path.size());
  if (path.front() == '@') {
    address.sun_path[0] = '\0';
  }
  const int socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const bool answers =
      socket >= 0 &&
      ::connect(socket, reinterpret_cast<const sockaddr*>(&address),
                static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size())) == 0;
  if (socket >= 0) {
    close(socket);
  }
  return answers;
}

bool tcpAnswers(const std::string& host, int port) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) {
    return false;
  }
  bool answers = false;
  for (const addrinfo* entry = found; entry != nullptr && !answers; entry = entry->ai_next) {
    const int socket = ::socket(entry->ai_family, entry->ai_socktype | SOCK_CLOEXEC, 0);
    answers = socket >= 0 && ::connect(socket, entry->ai_addr, entry->ai_addrlen) == 0;
    if (socket >= 0) {
      close(socket);
    }
  }
  freeaddrinfo(found);
  return answers;
}

// DISPLAY is [host]:number[.screen]; a local server listens on its abstract or its
// /tmp/.X11-unix socket, a remote one on TCP port 6000 + number.
bool xServerAnswers(const std::string& display) {
  const std::size_t colon = display.rfind(':');
  if (colon == std::string::npos) {
    return false;
  }
  const std::string host = display.substr(0, colon);
  std::string number = display.substr(colon + 1);
  number = number.substr(0, number.find('.'));
  if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  if (host.empty() || host == "unix") {
    const std::string path = "/tmp/.X11-unix/X" + number;
    return socketAnswers("@" + path) || socketAnswers(path);
  }
  if (host.front() == '/') {
    return socketAnswers(display);
  }
  return tcpAnswers(host, 6000 + std::stoi(number.substr(0, 4)));
}

bool waylandAnswers(const std::string& name) {
  if (name.front() == '/') {
    return socketAnswers(name);
  }
  return isSet("XDG_RUNTIME_DIR") &&
         socketAnswers(std::string(std::getenv("XDG_RUNTIME_DIR")) + "/" + name);
}

// Qt aborts when it cannot reach a display; we say so in the user's language and leave
// instead. A platform chosen on the command line or in the environment is Qt's business.
// Returns the reason when no display answers.
std::optional<std::string> displayProblem(int argc, char** argv) {
  if (isSet("QT_QPA_PLATFORM")) {
    return std::nullopt;
  }
  for (int index = 1; index < argc; ++index) {
    const std::string_view argument(argv[index]);
    if (argument == "-platform" || argument == "--platform" || argument.starts_with("-platform=") ||
        argument.starts_with("--platform=")) {
      return std::nullopt;
    }
  }
  const bool x11 = isSet("DISPLAY");
  const bool wayland = isSet("WAYLAND_DISPLAY");
  if (!x11 && !wayland) {
    return L("app.no_display");
  }
  if (x11 && xServerAnswers(std::getenv("DISPLAY"))) {
    return std::nullopt;
  }
  if (wayland && waylandAnswers(std::getenv("WAYLAND_DISPLAY"))) {
    // Qt would try the dead X server first.
    setenv("QT_QPA_PLATFORM", "wayland", 1);
    return std::nullopt;
  }
  std::string named;
  for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    if (isSet(variable)) {
      named += (named.empty() ? "" : ", ") + std::string(variable) + "=" + std::getenv(variable);
    }
  }
  return L("app.display_unreachable", named);
}

} // namespace

int runDesktopApplication(int argc, char** argv) {
  if (const std::optional<std::string> problem = displayProblem(argc, argv)) {
    std::fputs(("varnelo-eject: " + *problem + "\n").c_str(), stderr);
    return 1;
  }
  // Set for QApplication's start only, and only where the user made no choice of their own;
  // what we start (a file manager) does not inherit them.
  //  - Our surfaces are small: on X11, shared-memory images save nothing there, and each repaint
  //    of the tray icon would wait for the X server first.
  //  - Nothing of ours runs GLib sources on the main thread, and Qt's own event loop wakes for a
  //    tray update at a fraction of the cost of GLib's.
  std::vector<const char*> defaulted;
  for (const char* variable : {"QT_XCB_NO_MITSHM", "QT_NO_GLIB"}) {
    if (!qEnvironmentVariableIsSet(variable)) {
      qputenv(variable, "1");
      defaulted.push_back(variable);
    }
  }
  // QApplication takes its own options (-platform, -style, -session...) out of argv.
  QApplication application(argc, argv);
  for (const char* variable : defaulted) {
    qunsetenv(variable);
  }
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
  // The program's one settings object over its one store. Never destroyed: crash handlers and
  // requests still under way at exit may read them.
  static auto* settingsStore = new SettingsStore(SettingsStore::defaultFile());
  static auto* settings = new Settings(*settingsStore);
  DisplayModeController::prepareProcess(*settings);

  // Requests of the whole program, ours and the core's, go through one transport that lives
  // as long as the process. Each runs in the fetch program installed beside this one.
  static ChildProcessHttpTransport transport(runningProgramPath().parent_path() /
                                             "varnelo-eject-fetch");
  SharedHttpTransport::instance().install(transport);

  QtDispatcher dispatcher;
  // Server checks, replies, reports, crash uploads and update checks run on threads of their
  // own, never in the way of an ejection, and come back through the event loop.
  NetworkQueue network(dispatcher, transport);
  // Never destroyed: requests on other threads may outlive the event loop.
  static auto* supportClient = new SupportClient(SupportClient::standardSetup(*settingsStore));
  supportClient->setDispatcher(&network);
  static ApportCrashReports systemReports;
  CrashReporter::configure(CrashReporter::standardSetup(*settingsStore, &systemReports, &network));
  // Crashes are caught from here on; what earlier runs left waits for the first-launch answer.
  CrashReporter::installHandlers();

  LibmountVolumeSource volumeSource;
  LinuxDiskDescriber diskDescriber{volumeSource};
  PosixProcessRunner processRunner;
  LibmountVolumeMonitor volumeMonitor(dispatcher);
  SystemEjector ejector;
  ProcVolumeUsers volumeUsers;
  EjectEngine engine(
      EnginePlatform{
          .volumeSource = volumeSource,
          .diskDescriber = diskDescriber,
          .processRunner = processRunner,
          .ejector = ejector,
          .dispatcher = dispatcher,
          .volumeMonitor = &volumeMonitor,
          .timeMachineTool = "/usr/bin/tmutil",
          .environment = {},
          .volumeUsers = &volumeUsers,
      },
      *settings);

  QtDisplayEnvironment display;
  Application* shell = nullptr;
  QtAlertPresenter alerts(
      display, [&shell]() -> QWidget* { return shell != nullptr ? shell->mainWindow() : nullptr; });
  Updater updater(
      transport, network, *settingsStore, alerts,
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
      .settings = *settings,
      .alerts = alerts,
      .display = display,
      .codeSignature = codeSignature,
      .updater = updater,
      .supportClient = *supportClient,
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
      // The check starts a program of its own: not while the tray icon is still being shown.
      .firstServerCheckAfter = std::chrono::seconds(1),
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
    supportClient->setDispatcher(nullptr);
    CrashReporter::configure(CrashReporter::standardSetup(*settingsStore, &systemReports, nullptr));
  });
  const int status = QApplication::exec();

  // Nothing may reach the shell while the rest goes away.
  volumeMonitor.stop();
  dispatcher.waitForBackground();
  return status;
}
