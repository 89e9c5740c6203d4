#pragma once

#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/process_runner.h"
#include "platform/volume_users.h"

// Tells which volumes hold backups and whether a backup is running: Time Machine's own
// destinations (asked of its tool) and the marks the Linux backup tools leave on their disks.
// Reads no state of its own after construction, so it may be used from any thread.
class BackupDetector {
 public:
  // Reads the process environment.
  using Environment = std::function<std::optional<std::string>(const std::string&)>;

  // None for volumeUsers: nobody is asked which programs hold a volume. The references must
  // outlive the detector.
  BackupDetector(ProcessRunner& processRunner, std::string timeMachineTool, Environment environment,
                 VolumeUsers* volumeUsers);

  // The mount points the Time Machine tool names as its destinations; empty when it cannot tell.
  std::set<std::string> timeMachineMountPoints();
  // Whose backups the volume holds ("time-machine", "borg"...), empty when none; nothing when
  // its root cannot be read. known: timeMachineMountPoints().
  std::optional<std::string> backupKind(const std::string& mountPath,
                                        const std::set<std::string>& known);
  bool isTimeMachine(const std::string& mountPath, const std::set<std::string>& known) {
    return !backupKind(mountPath, known).value_or("").empty();
  }
  // True while a backup runs, false when none does, nothing when the tool cannot tell.
  std::optional<bool> backupIsRunning();
  // Also true when a program of a Linux backup tool holds files under one of the paths.
  std::optional<bool> backupIsRunning(const std::vector<std::string>& mountPaths);

 private:
  std::optional<std::string> tmutil(const std::vector<std::string>& arguments);

  ProcessRunner& processRunner_;
  std::string timeMachineTool_;
  Environment environment_;
  VolumeUsers* volumeUsers_;
};
