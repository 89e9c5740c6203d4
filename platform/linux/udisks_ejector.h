#pragma once

#include <chrono>
#include <string>

#include "platform/ejector.h"
#include "platform/linux/device_holders.h"

// Unmounts and ejects through udisks2 on the system bus, so that an ordinary user can eject
// what the desktop mounted for them. udisks2 asks polkit; an authentication agent of the
// user's session may prompt, which is why the default call timeout is generous.
class UdisksEjector : public Ejector {
 public:
  struct Options {
    // Empty: the system bus (DBUS_SYSTEM_BUS_ADDRESS when set).
    std::string busAddress;
    // For each method call on udisks2; a slow USB stick may take long to flush on unmount.
    std::chrono::milliseconds callTimeout = std::chrono::minutes(2);
    // The mount table the result is checked against, and sysfs; tests use prepared ones.
    std::string mountInfo = "/proc/self/mountinfo";
    std::string sysRoot = "/sys";
  };

  // What one attempt came to; volumeKnown is false when udisks2 has no block device mounted
  // at the paths (a FUSE mount, say), so that a caller may try another way.
  struct Attempt {
    EjectOutcome outcome;
    bool volumeKnown = false;
  };

  UdisksEjector() = default;
  explicit UdisksEjector(Options options) : options_(std::move(options)) {}

  EjectOutcome eject(const EjectTarget& target) override;
  Attempt attempt(const EjectTarget& target);

  // True when the bus answers and udisks2 runs on it or can be started by it.
  bool serviceAvailable();

 private:
  Options options_;
  ProcVolumeUsers users_;
  DeviceHolders holders_;
};
