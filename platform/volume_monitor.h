#pragma once

#include <chrono>
#include <functional>

// Tells when a volume was mounted, unmounted or renamed.
class VolumeMonitor {
 public:
  virtual ~VolumeMonitor() = default;

  // Calls the callback once per mount, unmount or rename, from any thread.
  virtual void start(std::function<void()> onVolumesChanged) = 0;
  // After stop returns, the callback is not called again.
  virtual void stop() = 0;
  // True when the callback comes on the main thread, from its event loop.
  virtual bool callsBackOnMainThread() const { return false; }
  // Calls the callback once more after the delay, as if something changed then; false when
  // this monitor cannot, and the caller must wait by itself. From any thread.
  virtual bool callBackAfter(std::chrono::milliseconds /*delay*/) { return false; }
  // How long a volume this monitor reported must stay mounted before anyone looks inside it
  // (capacity, backup marks): a script that mounts and at once unmounts must never find it
  // busy with us.
  virtual std::chrono::milliseconds lookInsideAfter() const { return {}; }
};
