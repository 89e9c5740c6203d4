#include "platform/fake/fake_volume_monitor.h"

bool FakeVolumeMonitor::fire() {
  // Held while calling, so that stop() cannot return while a call is under way.
  std::lock_guard lock(mutex_);
  if (!callback_) {
    return false;
  }
  callback_();
  return true;
}

bool FakeVolumeMonitor::isRunning() const {
  std::lock_guard lock(mutex_);
  return static_cast<bool>(callback_);
}

int FakeVolumeMonitor::startCount() const {
  std::lock_guard lock(mutex_);
  return starts_;
}

int FakeVolumeMonitor::stopCount() const {
  std::lock_guard lock(mutex_);
  return stops_;
}

void FakeVolumeMonitor::start(std::function<void()> onVolumesChanged) {
  std::lock_guard lock(mutex_);
  callback_ = std::move(onVolumesChanged);
  ++starts_;
}

void FakeVolumeMonitor::stop() {
  std::lock_guard lock(mutex_);
  callback_ = nullptr;
  ++stops_;
}
