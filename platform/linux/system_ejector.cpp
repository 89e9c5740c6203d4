#include "platform/linux/system_ejector.h"

#include <unistd.h>

SystemEjector::SystemEjector(Options options)
    : options_(std::move(options)), udisks_(options_.udisks), direct_(options_.direct) {}

bool SystemEjector::isRoot() const {
  return options_.isRoot ? options_.isRoot() : geteuid() == 0;
}

EjectOutcome SystemEjector::eject(const EjectTarget& target) {
  if (udisks_.serviceAvailable()) {
    auto attempt = udisks_.attempt(target);
    // udisks2 does not see every mount (FUSE, say); root can still take those down itself.
    if (attempt.volumeKnown || !isRoot()) {
      return attempt.outcome;
    }
  }
  if (isRoot()) {
    return direct_.eject(target);
  }
  EjectOutcome outcome;
  outcome.failure = EjectFailure::noWayToUnmount;
  return outcome;
}
