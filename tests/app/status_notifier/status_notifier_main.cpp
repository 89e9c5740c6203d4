#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include <QApplication>

#include "tests/app/status_notifier/status_notifier_bus.h"

extern char** environ;

namespace {

// Children never hold the test's output open: ctest waits for it to close.
pid_t spawn(const char* program, char** arguments, int displayFd = -1) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (displayFd >= 0) {
    posix_spawn_file_actions_adddup2(&actions, displayFd, 3);
  }
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const bool started = posix_spawnp(&pid, program, &actions, nullptr, arguments, environ) == 0;
  posix_spawn_file_actions_destroy(&actions);
  return started ? pid : 0;
}

// A private X server: Qt exports tray icons over D-Bus on X11 and Wayland, not offscreen.
pid_t startDisplay() {
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) {
    return 0;
  }
  char* arguments[] = {const_cast<char*>("Xvfb"),
                       const_cast<char*>("-displayfd"),
                       const_cast<char*>("3"),
                       const_cast<char*>("-nolisten"),
                       const_cast<char*>("tcp"),
                       const_cast<char*>("-screen"),
                       const_cast<char*>("0"),
                       const_cast<char*>("1024x768x24"),
                       nullptr};
  const pid_t pid = spawn("Xvfb", arguments, pipeEnds[1]);
  close(pipeEnds[1]);
  // The display number, then a newline, once the server accepts clients.
  std::string number;
  char character = 0;
  while (pid != 0 && read(pipeEnds[0], &character, 1) == 1 && character != '\n') {
    number += character;
  }
  close(pipeEnds[0]);
  if (number.empty()) {
    return 0;
  }
  setenv("DISPLAY", (":" + number).c_str(), 1);
  setenv("QT_QPA_PLATFORM", "xcb", 1);
  return pid;
}

// Qt decides once, at start, whether a watcher runs; it must be on the bus by then.
bool watcherOnBus() {
  for (int attempt = 0; attempt < 100; ++attempt) {
    FILE* answer = popen("dbus-send --session --print-reply --dest=org.freedesktop.DBus / "
                         "org.freedesktop.DBus.NameHasOwner string:org.kde.StatusNotifierWatcher "
                         "2>/dev/null",
                         "r");
    std::string text;
    char buffer[256];
    while (answer != nullptr && std::fgets(buffer, sizeof buffer, answer) != nullptr) {
      text += buffer;
    }
    if (answer != nullptr) {
      pclose(answer);
    }
    if (text.find("boolean true") != std::string::npos) {
      // Qt exports its icon only when a panel (a host) is there to show it; we stand in for one.
      return std::system("dbus-send --session --print-reply --dest=org.kde.StatusNotifierWatcher "
                         "/StatusNotifierWatcher "
                         "org.kde.StatusNotifierWatcher.RegisterStatusNotifierHost "
                         "string:org.kde.StatusNotifierHost-test >/dev/null 2>&1") == 0;
    }
    usleep(50 * 1000);
  }
  return false;
}

} // namespace

std::string StatusNotifierBus::skipReason;

// A private session bus with a StatusNotifierItem watcher on it, in place before Qt first looks
// for one: then the tray icon is exported over D-Bus as on a real desktop's panel.
int main(int argc, char** argv) {
  const pid_t displayPid = startDisplay();
  if (displayPid == 0) {
    StatusNotifierBus::skipReason = "no Xvfb to run the tray on";
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  pid_t busPid = 0;
  pid_t watcherPid = 0;
  FILE* bus =
      popen("dbus-daemon --session --fork --print-address=1 --print-pid=1 2>/dev/null", "r");
  char address[512] = {};
  long pid = 0;
  if (bus != nullptr && std::fgets(address, sizeof address, bus) != nullptr &&
      std::fscanf(bus, "%ld", &pid) == 1) {
    busPid = static_cast<pid_t>(pid);
    std::string line(address);
    line.erase(line.find_last_not_of('\n') + 1);
    setenv("DBUS_SESSION_BUS_ADDRESS", line.c_str(), 1);
    char* watcher[] = {const_cast<char*>("status-notifier-watcher"), nullptr};
    watcherPid = spawn(watcher[0], watcher);
    if ((watcherPid == 0 || !watcherOnBus()) && displayPid != 0) {
      StatusNotifierBus::skipReason = "no status-notifier-watcher on the private bus";
    }
  } else {
    StatusNotifierBus::skipReason = "dbus-daemon could not start a session bus";
  }
  if (bus != nullptr) {
    pclose(bus);
  }

  int status = 0;
  {
    QApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    status = RUN_ALL_TESTS();
  }
  for (const pid_t child : {watcherPid, busPid, displayPid}) {
    if (child > 0) {
      kill(child, SIGTERM);
      waitpid(child, nullptr, 0);
    }
  }
  return status;
}
