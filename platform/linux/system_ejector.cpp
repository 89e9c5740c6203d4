#include "platform/linux/system_ejector.h"

#include <unistd.h>

SystemEjector::SystemEjector(Options options)
    : options_(std::move(options)), udisks_(options_.udisks), direct_(options_.direct) {}

bool SystemEjector::isRoot() const {
  return options_.isRoot ? options_.isRoot() : geteuid() == 0;
}

EjectOutcome SystemEjector::unmountAndEject(const std::string& mountPath) {
  if (udisks_.serviceAvailable()) {
    auto attempt = udisks_.attempt(mountPath);
    // udisks2 does not see every mount (FUSE, say); root can still take those down itself.
    if (attempt.volumeKnown || !isRoot()) {
      return attempt.outcome;
    }
  }
  if (isRoot()) {
    return direct_.unmountAndEject(mountPath);
  }
  return {false, "neither udisks2 on the system bus nor root rights to unmount " + mountPath};
}
