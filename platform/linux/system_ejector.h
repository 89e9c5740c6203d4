#pragma once

#include <functional>
#include <optional>
#include <string>

#include "platform/ejector.h"
#include "platform/linux/direct_ejector.h"
#include "platform/linux/posix_process_runner.h"
#include "platform/linux/proc_volume_users.h"
#include "platform/linux/udisks_ejector.h"

// The ejector the program uses: udisks2 when it is on the system bus, else, for root, the
// direct unmount. Chosen afresh at every call, since udisks2 may come and go. A FUSE file
// system that udisks2 does not know goes through fusermount when the user mounted it.
class SystemEjector : public Ejector {
 public:
  struct Options {
    UdisksEjector::Options udisks;
    DirectEjector::Paths direct;
    // Whether the process may unmount by itself; geteuid() == 0 when empty.
    std::function<bool()> isRoot;
  };

  SystemEjector() : SystemEjector(Options{}) {}
  explicit SystemEjector(Options options);

  EjectOutcome eject(const EjectTarget& target) override;

 private:
  bool isRoot() const;
  // Nothing when the target is not all FUSE mounts, or fusermount could not take them down
  // and nothing holds them (not the user's own, say).
  std::optional<EjectOutcome> unmountOwnFuse(const EjectTarget& target);

  Options options_;
  PosixProcessRunner runner_;
  ProcVolumeUsers users_;
  UdisksEjector udisks_;
  DirectEjector direct_;
};
