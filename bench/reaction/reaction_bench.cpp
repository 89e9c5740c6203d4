// Times the reaction to a mount: from the mount(2) call to the engine's onChange with the new
// volume in its list (the application refreshes every view inside that callback), and the same
// for the unmount, and the CPU time the whole process spent on each (the monitor's thread, the
// discovery pass in the background, the list applied on the main thread; for a mount, also the
// pass that looks inside the new volume a moment later). 20 rounds on one
// loop-attached ext4 image; prints the median and the spread. With a number as its argument it
// first mounts that many other images, so that the cost of one event can be compared with many
// volumes already listed.
//
// Runs as root only, in a private mount namespace of its own, so nothing it mounts is seen
// outside. Asserts nothing.

#include <sched.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/linux_platform.h"
#include "core/eject_engine.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int rounds = 20;

std::string commandOutput(const std::string& command) {
  std::string output;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[256];
    while (fgets(buffer, sizeof buffer, pipe) != nullptr) {
      output += buffer;
    }
    pclose(pipe);
  }
  while (!output.empty() && output.back() == '\n') {
    output.pop_back();
  }
  return output;
}

double cpuMilliseconds(clockid_t clock) {
  timespec now{};
  clock_gettime(clock, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

double milliseconds(Clock::duration duration) {
  return std::chrono::duration<double, std::milli>(duration).count();
}

double percentile(std::vector<double> values, double fraction) {
  std::sort(values.begin(), values.end());
  return values[static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1))];
}

// With pending false, only once it has been looked inside.
bool listed(const EjectEngine& engine, const std::string& path, bool pending = true) {
  const auto& volumes = engine.volumes();
  return std::any_of(volumes.begin(), volumes.end(), [&](const EjectableVolume& volume) {
    return volume.id == path && (pending || !volume.contentsPending);
  });
}

} // namespace

int main(int argc, char** argv) {
  const int others = argc > 1 ? std::atoi(argv[1]) : 0;
  if (geteuid() != 0) {
    std::puts("reaction_bench: skipped, needs root (loop devices and mounts)");
    return 0;
  }
  if (unshare(CLONE_NEWNS) != 0 ||
      mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
    std::printf("reaction_bench: skipped, no private mount namespace: %s\n", std::strerror(errno));
    return 0;
  }
  // A round that never sees its change would wait for ever.
  alarm(120);

  char pattern[] = "/tmp/varnelo-reaction-XXXXXX";
  const fs::path folder = mkdtemp(pattern);
  const fs::path image = folder / "image.ext4";
  const fs::path mountPath = folder / "Reaction";
  fs::create_directories(mountPath);
  const std::string quiet = " >/dev/null 2>&1";
  if (std::system(("truncate -s 16M " + image.string() + " && mkfs.ext4 -q -F -L Reaction " +
                   image.string() + quiet)
                      .c_str()) != 0) {
    std::puts("reaction_bench: skipped, mkfs.ext4 failed");
    return 0;
  }
  const std::string device = commandOutput("losetup -f --show " + image.string());
  if (device.empty()) {
    std::puts("reaction_bench: skipped, no loop device");
    return 0;
  }

  // Loop-mounted copies of one image; their loop devices detach themselves with the namespace.
  const fs::path otherImage = folder / "other.ext4";
  if (others > 0 && std::system(("truncate -s 2M " + otherImage.string() +
                                 " && mkfs.ext4 -q -F -L Other " + otherImage.string() + quiet)
                                    .c_str()) != 0) {
    std::puts("reaction_bench: skipped, mkfs.ext4 failed");
    return 0;
  }
  for (int other = 0; other < others; ++other) {
    const fs::path copy = folder / ("other" + std::to_string(other) + ".ext4");
    const fs::path where = folder / ("Other" + std::to_string(other));
    fs::create_directories(where);
    fs::copy_file(otherImage, copy);
    if (std::system(("mount -o loop " + copy.string() + " " + where.string() + quiet).c_str()) !=
        0) {
      std::puts("reaction_bench: skipped, an other image did not mount");
      return 0;
    }
  }

  LinuxPlatform platform;
  EjectEngine& engine = platform.engine(/*watchVolumes=*/true);
  Clock::time_point changed;
  engine.setOnChange([&] { changed = Clock::now(); });

  std::vector<double> mounts;
  std::vector<double> unmounts;
  std::vector<double> mountCpu;
  std::vector<double> unmountCpu;
  // The pass's thread has ended by the time its list is applied; its time counts for the process.
  const auto settle = [] { usleep(50'000); };
  for (int round = 0; round < rounds; ++round) {
    settle();
    // The kernel's own work of mounting, done on this thread, is no reaction of ours.
    double cpu = cpuMilliseconds(CLOCK_PROCESS_CPUTIME_ID);
    double call = cpuMilliseconds(CLOCK_THREAD_CPUTIME_ID);
    const auto start = Clock::now();
    if (mount(device.c_str(), mountPath.c_str(), "ext4", 0, nullptr) != 0) {
      std::printf("reaction_bench: mount failed: %s\n", std::strerror(errno));
      break;
    }
    cpu += cpuMilliseconds(CLOCK_THREAD_CPUTIME_ID) - call;
    platform.dispatcher().runUntil([&] { return listed(engine, mountPath.string()); });
    mounts.push_back(milliseconds(changed - start));
    // A new volume is looked inside a moment later, in a second pass: that is the mount's too.
    platform.dispatcher().runUntil([&] { return listed(engine, mountPath.string(), false); });
    settle();
    mountCpu.push_back(cpuMilliseconds(CLOCK_PROCESS_CPUTIME_ID) - cpu);

    cpu = cpuMilliseconds(CLOCK_PROCESS_CPUTIME_ID);
    call = cpuMilliseconds(CLOCK_THREAD_CPUTIME_ID);
    const auto unmountStart = Clock::now();
    umount2(mountPath.c_str(), 0);
    cpu += cpuMilliseconds(CLOCK_THREAD_CPUTIME_ID) - call;
    platform.dispatcher().runUntil([&] { return !listed(engine, mountPath.string()); });
    unmounts.push_back(milliseconds(changed - unmountStart));
    settle();
    unmountCpu.push_back(cpuMilliseconds(CLOCK_PROCESS_CPUTIME_ID) - cpu);
  }
  std::system(("losetup -d " + device + quiet).c_str());
  for (int other = 0; other < others; ++other) {
    umount2((folder / ("Other" + std::to_string(other))).c_str(), 0);
  }
  fs::remove_all(folder);

  if (mounts.empty()) {
    return 1;
  }
  std::printf("%d other volumes mounted\n", others);
  std::printf("%-10s %8s %8s %8s %8s\n", "change", "rounds", "median", "p90", "max");
  std::printf("%-10s %8zu %8.2f %8.2f %8.2f   ms\n", "mount", mounts.size(),
              percentile(mounts, 0.5), percentile(mounts, 0.9), percentile(mounts, 1.0));
  std::printf("%-10s %8zu %8.2f %8.2f %8.2f   ms\n", "unmount", unmounts.size(),
              percentile(unmounts, 0.5), percentile(unmounts, 0.9), percentile(unmounts, 1.0));
  std::printf("%-10s %8zu %8.2f %8.2f %8.2f   ms of CPU\n", "mount", mountCpu.size(),
              percentile(mountCpu, 0.5), percentile(mountCpu, 0.9), percentile(mountCpu, 1.0));
  std::printf("%-10s %8zu %8.2f %8.2f %8.2f   ms of CPU\n", "unmount", unmountCpu.size(),
              percentile(unmountCpu, 0.5), percentile(unmountCpu, 0.9),
              percentile(unmountCpu, 1.0));
  return 0;
}
