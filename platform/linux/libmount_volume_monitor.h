#pragma once

#include <functional>
#include <memory>
#include <mutex>

#include "platform/dispatcher.h"
#include "platform/volume_monitor.h"

// Hears of mounts and unmounts through libmount's watch on /proc/self/mountinfo, and of renames
// through udev "change" events that give a mounted device a new label. The main loop watches its
// one descriptor: no thread of its own, nothing polled periodically, and a change reaches the
// main thread with no hand-over. Without udevd the rename half simply hears nothing.
class LibmountVolumeMonitor : public VolumeMonitor {
 public:
  // The dispatcher must watch descriptors (see Dispatcher::watchOnMain); one that cannot leaves
  // the monitor deaf.
  explicit LibmountVolumeMonitor(Dispatcher& mainLoop) : mainLoop_(mainLoop) {}
  ~LibmountVolumeMonitor() override;
  LibmountVolumeMonitor(const LibmountVolumeMonitor&) = delete;
  LibmountVolumeMonitor& operator=(const LibmountVolumeMonitor&) = delete;

  // Calls back on the main thread once per change of the mount table (however many entries it
  // touched) and once per rename. Starting again replaces the earlier callback. From the main
  // thread, as is stop().
  void start(std::function<void()> onVolumesChanged) override;
  void stop() override;
  // Long enough for a script's unmount right after its mount, short enough to show the size
  // and backup marks of a disk just plugged in without a wait anyone notices.
  std::chrono::milliseconds lookInsideAfter() const override {
    return std::chrono::milliseconds(300);
  }
  bool callsBackOnMainThread() const override { return watchedDescriptor_ >= 0; }
  // A timer among the descriptors watched, so no thread sleeps through the wait. From any thread.
  bool callBackAfter(std::chrono::milliseconds delay) override;

 private:
  class Watcher;
  std::mutex mutex_;
  Dispatcher& mainLoop_;
  int watchedDescriptor_ = -1;
  // Apart from mutex_: a pass on another thread may ask for a later call meanwhile.
  std::mutex watcherMutex_;
  std::shared_ptr<Watcher> watcher_;
};
