#pragma once

#include <functional>
#include <mutex>

#include "platform/volume_monitor.h"

// A monitor that reports a change whenever the test says one happened.
class FakeVolumeMonitor : public VolumeMonitor {
 public:
  // Calls the callback, on the calling thread, when the monitor runs. Returns whether it did.
  bool fire();
  bool isRunning() const;
  int startCount() const;
  int stopCount() const;

  void start(std::function<void()> onVolumesChanged) override;
  void stop() override;

 private:
  mutable std::mutex mutex_;
  std::function<void()> callback_;
  int starts_ = 0;
  int stops_ = 0;
};
