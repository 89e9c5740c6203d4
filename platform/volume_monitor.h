#pragma once

#include <chrono>
#include <functional>

// Tells when a volume was mounted, unmounted or renamed.
class VolumeMonitor {
 public:
  virtual ~VolumeMonitor() = default;

  // Calls the callback once per mount, unmount or rename, from any thread.
  // The engine moves each call to the main thread itself.
  virtual void start(std::function<void()> onVolumesChanged) = 0;
  // After stop returns, the callback is not called again.
  virtual void stop() = 0;
  // How long a volume this monitor reported must stay mounted before anyone looks inside it
  // (capacity, backup marks): a script that mounts and at once unmounts must never find it
  // busy with us.
  virtual std::chrono::milliseconds lookInsideAfter() const { return {}; }
};
