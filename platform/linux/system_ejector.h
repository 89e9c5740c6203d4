#pragma once

#include <functional>
#include <string>

#include "platform/ejector.h"
#include "platform/linux/direct_ejector.h"
#include "platform/linux/udisks_ejector.h"

// The ejector the program uses: udisks2 when it is on the system bus, else, for root, the
// direct unmount. Chosen afresh at every call, since udisks2 may come and go.
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

  Options options_;
  UdisksEjector udisks_;
  DirectEjector direct_;
};
