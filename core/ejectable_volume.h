#pragma once

#include <filesystem>
#include <string>
#include <vector>

// One mounted volume the user may eject. Equal by id (its mount path) alone.
struct EjectableVolume {
  std::string id;
  std::string name;
  std::filesystem::path url;
  std::string sizeText;
  bool isDiskImage = false;
  bool isTimeMachine = false;
  // Whose backups the disk holds when isTimeMachine: "time-machine", "deja-dup", "timeshift",
  // "borg" or "restic".
  std::string backupKind;
  // The block device behind the volume ("/dev/sdb1", "/dev/loop3"); empty when unknown.
  std::string device;
  // Every mount point of that device, shortest first; id is the first one.
  std::vector<std::string> mountPaths;
  // The root could not be read, so nobody can tell whether it holds backups; protected like
  // a backup volume while protection is on.
  bool backupUnknown = false;
  // Mounted a moment ago and not looked inside yet (no size, backup marks unknown): a second
  // list follows shortly.
  bool contentsPending = false;

  // Every mount point, or the id alone when none were recorded.
  std::vector<std::string> mountPoints() const {
    return mountPaths.empty() ? std::vector<std::string>{id} : mountPaths;
  }

  friend bool operator==(const EjectableVolume& left, const EjectableVolume& right) {
    return left.id == right.id;
  }
};
