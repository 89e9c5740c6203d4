#pragma once

#include <chrono>
#include <functional>
#include <memory>
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
    // For each method call on udisks2 while a password prompt is open.
    std::chrono::milliseconds callTimeout = std::chrono::minutes(2);
    // With no password prompt open, a call unanswered this long has failed.
    std::chrono::milliseconds unansweredTimeout = std::chrono::seconds(30);
    // Whether a password prompt is open now; empty: cannot tell, so only callTimeout applies.
    std::function<bool()> promptOpen;
    // Told what each call waits for; asked before each step whether to stop. May be null.
    std::shared_ptr<EjectProgress> progress;
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
