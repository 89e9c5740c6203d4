#pragma once

#include <functional>
#include <mutex>

#include "platform/volume_monitor.h"

// A monitor that reports a change whenever the test says one happened.
class FakeVolumeMonitor : public VolumeMonitor {
 public:
  // Calls the callback, on the calling thread, when the monitor runs. Returns whether it did.
  // Held while calling, so that stop() cannot return while a call is under way.
  bool fire() {
    std::lock_guard lock(mutex_);
    if (callback_) {
      callback_();
    }
    return static_cast<bool>(callback_);
  }

  void start(std::function<void()> onVolumesChanged) override {
    std::lock_guard lock(mutex_);
    callback_ = std::move(onVolumesChanged);
  }
  void stop() override {
    std::lock_guard lock(mutex_);
    callback_ = nullptr;
  }
  // Whether fire() stands for a call from the main loop.
  bool onMainThread = false;
  bool callsBackOnMainThread() const override { return onMainThread; }

 private:
  std::mutex mutex_;
  std::function<void()> callback_;
};
