#pragma once

#include "core/ejectable_volume.h"

// The one rule for backup disks and for what eject-all leaves alone, shared by the engine and
// the desktop program.

// Treated as a backup: marked as one, or not readable (or not looked at yet) while the user
// protects backups. Such a volume wears the badge and is ejected alone only after a question.
inline bool isBackupVolume(const EjectableVolume& volume, bool protectBackups) {
  return volume.isTimeMachine || (protectBackups && volume.backupUnknown);
}

// Left out of eject-all: only while protection is on.
inline bool isProtectedFromEjectAll(const EjectableVolume& volume, bool protectBackups) {
  return protectBackups && isBackupVolume(volume, protectBackups);
}

// Left out of eject-all: a protected backup, or a disk image while those are to stay.
inline bool isLeftOutOfEjectAll(const EjectableVolume& volume, bool protectBackups,
                                bool ejectDiskImages) {
  return isProtectedFromEjectAll(volume, protectBackups) ||
         (!ejectDiskImages && volume.isDiskImage);
}
