#pragma once

#include <string>

#include "platform/ejector.h"
#include "platform/linux/proc_volume_users.h"

// Unmounts with umount2 and detaches a loop device, without udisks2. Only root may do this;
// it is the way out on machines with no system bus or no udisks2. Other disks are only
// unmounted: without udisks2 there is no safe way to power them off.
class DirectEjector : public Ejector {
 public:
  // Where the mount table, sysfs and the device nodes are; tests point them at prepared trees.
  struct Paths {
    std::string mountInfo = "/proc/self/mountinfo";
    std::string sysRoot = "/sys";
    std::string devRoot = "/dev";
  };

  DirectEjector() = default;
  explicit DirectEjector(Paths paths) : paths_(std::move(paths)) {}

  EjectOutcome eject(const EjectTarget& target) override;

 private:
  Paths paths_;
  ProcVolumeUsers users_;
};
