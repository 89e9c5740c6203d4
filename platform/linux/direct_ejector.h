#pragma once

#include <functional>
#include <string>

#include "platform/ejector.h"
#include "platform/linux/device_holders.h"

// Unmounts with umount2, closes a dm-crypt mapping and detaches a loop device, without udisks2.
// Only root may do this; it is the way out on machines with no system bus or no udisks2. Other
// disks are only unmounted: without udisks2 there is no safe way to power them off.
class DirectEjector : public Ejector {
 public:
  // Closing a dm-crypt mapping by its name: 0 or a negative errno, and the library's message.
  struct CryptCloseResult {
    int error = 0;
    std::string message;
  };
  using CryptMappingCloser = std::function<CryptCloseResult(const std::string& mappingName)>;

  // Where the mount table, sysfs and the device nodes are; tests point them at prepared trees.
  struct Paths {
    std::string mountInfo = "/proc/self/mountinfo";
    std::string sysRoot = "/sys";
    std::string devRoot = "/dev";
    std::string procRoot = "/proc";
  };

  DirectEjector();
  // Without a closer, libcryptsetup closes the mapping.
  explicit DirectEjector(Paths paths, CryptMappingCloser closeCryptMapping = {});

  EjectOutcome eject(const EjectTarget& target) override;

 private:
  Paths paths_;
  CryptMappingCloser closeCryptMapping_;
  ProcVolumeUsers users_;
  DeviceHolders holders_;
};
