#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/volume_monitor.h"

// Hears of mounts and unmounts through libmount's watch on /proc/self/mountinfo, and of renames
// through udev "change" events that give a mounted device a new label. One background thread
// sleeps in poll() until something happens; nothing is polled periodically. Without udevd the
// rename half simply hears nothing.
class LibmountVolumeMonitor : public VolumeMonitor {
 public:
  LibmountVolumeMonitor() = default;
  ~LibmountVolumeMonitor() override;
  LibmountVolumeMonitor(const LibmountVolumeMonitor&) = delete;
  LibmountVolumeMonitor& operator=(const LibmountVolumeMonitor&) = delete;

  // Calls back once per change of the mount table (however many entries it touched) and once
  // per rename, on the monitor's own thread. Starting again replaces the earlier callback.
  void start(std::function<void()> onVolumesChanged) override;
  // Waits for the monitor's thread to end, so it must not be called from the callback.
  void stop() override;
  // Long enough for a script's unmount right after its mount, short enough to show the size
  // and backup marks of a disk just plugged in without a wait anyone notices.
  std::chrono::milliseconds lookInsideAfter() const override {
    return std::chrono::milliseconds(300);
  }
  // The thread only waits in poll() between changes: the discovery a change calls for can run
  // on it, which spares a hand-over to a pooled thread per change.
  bool callsBackOnItsOwnThread() const override { return true; }
  // A timeout of the same poll(), so no thread sleeps through the wait.
  bool callBackAfter(std::chrono::milliseconds delay) override;

 private:
  class Watcher;
  std::mutex mutex_;
  std::thread thread_;
  int stopFd_ = -1;
  // Apart from mutex_, which stop() holds while the thread ends: the callback may ask for a
  // later call meanwhile.
  std::mutex watcherMutex_;
  std::shared_ptr<Watcher> watcher_;
};
