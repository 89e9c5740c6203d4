// Times one discovery pass (EjectEngine::listExternalVolumes over the libmount source, the
// sysfs describer and posix_spawn) while the mount table holds 10, 100 and 1,000 entries.
//
// Runs as root only: it re-executes itself in a private mount namespace, prunes the inherited
// mounts it does not need, and fills the table with tmpfs mounts and a few loop-mounted ext4
// images (mounted with -o loop, so their loop devices detach themselves when the namespace
// goes away, even if this program dies).

#include <sched.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "core/eject_engine.h"
#include "core/settings.h"
#include "core/settings_store.h"
#include "platform/linux/libmount_volume_source.h"
#include "platform/linux/linux_disk_describer.h"
#include "platform/linux/loop_dispatcher.h"
#include "platform/linux/posix_process_runner.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* namespaceMarker = "VARNELO_DISCOVERY_BENCH_NAMESPACE";
constexpr int passes = 50;

struct Row {
  int entries;
  int volumes;
};
constexpr Row rows[] = {{10, 3}, {100, 10}, {1000, 10}};

// Counts how often the engine starts the Time Machine tool.
class CountingRunner : public ProcessRunner {
 public:
  std::optional<std::string> run(const std::string& executable,
                                 const std::vector<std::string>& arguments) override {
    ++starts;
    return real_.run(executable, arguments);
  }
  std::atomic<int> starts{0};

 private:
  PosixProcessRunner real_;
};

class NoEjector : public Ejector {
 public:
  EjectOutcome eject(const EjectTarget&) override { return {}; }
};

int quietly(const std::vector<std::string>& argv) {
  // Nothing buffered may be written twice by the child.
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    std::freopen("/dev/null", "w", stdout);
    std::freopen("/dev/null", "w", stderr);
    std::vector<char*> arguments;
    arguments.reserve(argv.size() + 1);
    for (const auto& argument : argv) {
      arguments.push_back(const_cast<char*>(argument.c_str()));
    }
    arguments.push_back(nullptr);
    execvp(arguments[0], arguments.data());
    _exit(127);
  }
  int status = 0;
  return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<std::string> mountTargets() {
  std::vector<std::string> targets;
  std::ifstream table("/proc/self/mountinfo");
  std::string line;
  while (std::getline(table, line)) {
    std::string field;
    std::size_t start = 0;
    for (int i = 0; i < 5; ++i) {
      const auto end = line.find(' ', start);
      field = line.substr(start, end - start);
      start = end + 1;
    }
    targets.push_back(field);
  }
  return targets;
}

int entryCount() {
  return static_cast<int>(mountTargets().size());
}

// Leaves /, /proc, /sys and /dev: what discovery itself needs.
void pruneInheritedMounts() {
  auto targets = mountTargets();
  std::sort(targets.begin(), targets.end(),
            [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
  for (const auto& target : targets) {
    if (target != "/" && target != "/proc" && target != "/sys" && target != "/dev") {
      umount2(target.c_str(), MNT_DETACH);
    }
  }
}

struct Timing {
  double wall = 0; // median wall-clock milliseconds
  double cpu = 0;  // median CPU milliseconds of this thread: steadier on a busy machine
};

double threadCpuMilliseconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

Timing median(const std::function<void()>& pass) {
  for (int i = 0; i < 3; ++i) {
    pass();
  }
  std::vector<double> walls;
  std::vector<double> cpus;
  for (int i = 0; i < passes; ++i) {
    const double cpuStart = threadCpuMilliseconds();
    const auto start = std::chrono::steady_clock::now();
    pass();
    walls.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count());
    cpus.push_back(threadCpuMilliseconds() - cpuStart);
  }
  std::sort(walls.begin(), walls.end());
  std::sort(cpus.begin(), cpus.end());
  return {walls[walls.size() / 2], cpus[cpus.size() / 2]};
}

int runInNamespace() {
  pruneInheritedMounts();
  char pattern[] = "/tmp/varnelo-discovery-bench-XXXXXX";
  if (mkdtemp(pattern) == nullptr) {
    std::cerr << "discovery bench: cannot make a work folder\n";
    return 1;
  }
  const fs::path work = pattern;
  if (mount("bench", work.c_str(), "tmpfs", 0, "size=256m") != 0) {
    std::cerr << "discovery bench: cannot mount the work tmpfs: " << std::strerror(errno) << "\n";
    return 1;
  }

  const fs::path tool = work / "tmutil";
  std::ofstream(tool) << "#!/bin/sh\ncat <<'EOF'\n"
                         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                         "<plist version=\"1.0\"><dict><key>Destinations</key><array><dict>"
                         "<key>MountPoint</key><string>/nowhere</string></dict></array></dict>"
                         "</plist>\nEOF\n";
  chmod(tool.c_str(), 0755);

  int volumes = 0;
  int fillers = 0;
  auto addVolume = [&]() {
    const fs::path image = work / ("volume-" + std::to_string(volumes) + ".img");
    const fs::path mountPath = work / ("Volume " + std::to_string(volumes));
    std::ofstream(image).close();
    fs::resize_file(image, 4u << 20);
    fs::create_directory(mountPath);
    if (quietly({"mkfs.ext4", "-q", "-F", "-L", "Bench" + std::to_string(volumes),
                 image.string()}) != 0 ||
        quietly({"mount", "-o", "loop", "-t", "ext4", image.string(), mountPath.string()}) != 0) {
      return false;
    }
    ++volumes;
    return true;
  };
  auto addFiller = [&]() {
    const fs::path path = work / "fill" / std::to_string(fillers++);
    fs::create_directories(path);
    return mount("filler", path.c_str(), "tmpfs", 0, "size=4k") == 0;
  };

  LibmountVolumeSource source;
  LinuxDiskDescriber describer(source);
  CountingRunner runner;
  NoEjector ejector;
  LoopDispatcher dispatcher;
  auto platformWith = [&](const std::string& toolPath) {
    return EnginePlatform{.volumeSource = source,
                          .diskDescriber = describer,
                          .processRunner = runner,
                          .ejector = ejector,
                          .dispatcher = dispatcher,
                          .volumeMonitor = nullptr,
                          .timeMachineTool = toolPath,
                          .environment = {}};
  };
  SettingsStore settingsStore(work / "defaults.plist");
  const Settings settings(settingsStore);
  EjectEngine withTool(platformWith(tool.string()), settings);
  EjectEngine withoutTool(platformWith(work / "no-such-tool"), settings);

  std::printf("%8s %8s %7s %10s %10s %11s %11s %9s %10s\n", "entries", "volumes", "listed",
              "pass ms", "pass cpu", "no-tool ms", "no-tool cpu", "table ms", "tool/pass");
  for (const Row& row : rows) {
    while (volumes < row.volumes) {
      if (!addVolume()) {
        std::cerr << "discovery bench: cannot make a loop volume (mkfs.ext4, mount -o loop)\n";
        return 1;
      }
    }
    // Each filler adds exactly one entry; counting once spares re-reading a growing table.
    for (int entries = entryCount(); entries < row.entries; ++entries) {
      if (!addFiller()) {
        std::cerr << "discovery bench: cannot mount a filler tmpfs: " << std::strerror(errno)
                  << "\n";
        return 1;
      }
    }
    std::size_t listed = 0;
    runner.starts = 0;
    const Timing pass = median([&] { listed = withTool.listExternalVolumes().size(); });
    const double toolStarts = static_cast<double>(runner.starts) / (passes + 3);
    const Timing bare = median([&] { withoutTool.listExternalVolumes(); });
    const Timing table = median([&] { source.mountTable(); });
    std::printf("%8d %8d %7zu %10.3f %10.3f %11.3f %11.3f %9.3f %10.2f\n", entryCount(), volumes,
                listed, pass.wall, pass.cpu, bare.wall, bare.cpu, table.wall, toolStarts);
  }
  std::printf("median of %d passes. pass: with a stand-in Time Machine tool (its own process is "
              "not in 'cpu'); no-tool: the tool is absent, as on Linux; table: reading the mount "
              "table alone\n",
              passes);
  // Leaving the namespace unmounts everything; -o loop devices detach themselves then.
  for (int i = 0; i < volumes; ++i) {
    umount2((work / ("Volume " + std::to_string(i))).c_str(), 0);
  }
  umount2(work.c_str(), MNT_DETACH);
  rmdir(work.c_str());
  return 0;
}

} // namespace

int main(int, char** argv) {
  if (getenv(namespaceMarker) != nullptr) {
    return runInNamespace();
  }
  if (geteuid() != 0) {
    std::cout << "discovery bench: skipped, it needs root (a private mount namespace, tmpfs and "
                 "loop mounts)\n";
    return 0;
  }
  if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr)) {
    std::cout << "discovery bench: skipped, no private mount namespace: " << std::strerror(errno)
              << "\n";
    return 0;
  }
  setenv(namespaceMarker, "1", 1);
  execv("/proc/self/exe", argv);
  std::cerr << "discovery bench: cannot re-execute itself: " << std::strerror(errno) << "\n";
  return 1;
}
