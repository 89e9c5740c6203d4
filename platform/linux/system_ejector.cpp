#include "platform/linux/system_ejector.h"

#include <unistd.h>

#include <algorithm>

#include "platform/linux/device_mounts.h"

SystemEjector::SystemEjector(Options options)
    : options_(std::move(options)), udisks_(options_.udisks), direct_(options_.direct) {}

bool SystemEjector::isRoot() const {
  return options_.isRoot ? options_.isRoot() : geteuid() == 0;
}

EjectOutcome SystemEjector::eject(const EjectTarget& target) {
  if (udisks_.serviceAvailable()) {
    auto attempt = udisks_.attempt(target);
    if (attempt.volumeKnown) {
      return attempt.outcome;
    }
    // udisks2 does not see every mount (FUSE, say); root can still take those down itself.
    if (!isRoot()) {
      return unmountOwnFuse(target).value_or(attempt.outcome);
    }
  }
  if (isRoot()) {
    return direct_.eject(target);
  }
  EjectOutcome outcome;
  outcome.failure = EjectFailure::noWayToUnmount;
  return unmountOwnFuse(target).value_or(outcome);
}

std::optional<EjectOutcome> SystemEjector::unmountOwnFuse(const EjectTarget& target) {
  const auto table = readMountTable(options_.udisks.mountInfo);
  if (!table) {
    return std::nullopt;
  }
  const DeviceMounts device(target, *table, "/dev");
  const auto points = device.mountPoints(*table);
  const bool allFuse =
      !points.empty() && std::all_of(table->begin(), table->end(), [&](const MountEntry& entry) {
        return !device.matches(entry) || entry.fileSystemType.starts_with("fuse");
      });
  const char* const tools[] = {"/usr/bin/fusermount3", "/usr/bin/fusermount", "/bin/fusermount"};
  const auto tool = std::find_if(std::begin(tools), std::end(tools),
                                 [](const char* path) { return access(path, X_OK) == 0; });
  if (!allFuse || tool == std::end(tools)) {
    return std::nullopt;
  }
  for (const auto& point : points) {
    runner_.run(*tool, {"-u", "--", point});
  }
  EjectOutcome outcome;
  const auto after = readMountTable(options_.udisks.mountInfo);
  if (after && !device.mounted(*after)) {
    outcome.success = true;
    return outcome;
  }
  if (after) {
    outcome.holders = users_.usersOf(device.mountPoints(*after));
  }
  if (outcome.holders.empty()) {
    return std::nullopt;
  }
  outcome.failure = EjectFailure::busy;
  return outcome;
}
