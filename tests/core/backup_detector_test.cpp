#include <fstream>

#include <gtest/gtest.h>

#include "core/backup_detector.h"
#include "tests/core/eject_engine_rig.h"

// Backup marks at the root or one folder down, and whose they are; "x/" is a folder, "x=text" a
// file with text.
TEST(BackupDetection, MarkersOfMacAndLinuxToolsAtTheRootOrOneFolderDown) {
  EngineRig rig;
  BackupDetector detector{rig.runner, rig.toolPath.string(), {}, &rig.users};
  const std::pair<std::vector<std::string>, std::string> rows[] = {
      {{"Backups.backupdb/"}, "time-machine"},
      {{"My Mac.backupbundle/"}, "time-machine"},
      {{"My Mac.BACKUPBUNDLE/", "deeper/Old.backupbundle/"}, ""},
      {{"duplicity-full.20260101T101010Z.manifest.gpg"}, "deja-dup"},
      {{"deja-dup/duplicity-full-signatures.20260101T101010Z.sigtar.gz"}, "deja-dup"},
      {{"a/b/duplicity-full.20260101T101010Z.manifest"}, ""},
      {{"timeshift/snapshots/"}, "timeshift"},
      {{"timeshift/"}, ""},
      {{"borg/README", "borg/config=[repository]\nversion = 1\n"}, "borg"},
      {{"README", "config=[core]\n"}, ""},
      {{"restic/config", "restic/data/", "restic/index/", "restic/keys/", "restic/snapshots/"},
       "restic"},
      {{"config", "data/", "index/", "keys/"}, ""}};
  for (const auto& [entries, kind] : rows) {
    TemporaryFolder root;
    for (const auto& entry : entries) {
      const auto path = root / entry.substr(0, entry.find('='));
      std::filesystem::create_directories(entry.ends_with('/') ? path : path.parent_path());
      if (!entry.ends_with('/')) {
        std::ofstream(path) << entry.substr(std::min(entry.find('='), entry.size() - 1) + 1);
      }
    }
    EXPECT_EQ(detector.backupKind(root.path().string(), {}), kind) << entries[0];
  }
}

TEST(BackupDetection, IsRunning_TimeMachineMarkerOrALinuxBackupToolHoldingTheVolume) {
  EngineRig rig;
  BackupDetector detector{rig.runner, rig.toolPath.string(), {}, &rig.users};
  const std::vector<std::string> volume{"/media/a"};
  rig.runner.setOutput({"status"}, "    running = 1;\n    Running=1;\n");
  EXPECT_EQ(detector.backupIsRunning(volume), false);
  for (const auto& [program, running] :
       std::vector<std::pair<std::string, bool>>{{"borg", true},

                                                 {"deja-dup-monitor", true},

                                                 {"borgmatic", false},
                                                 {"bash", false}}) {
    rig.users.setUsers("/media/a", {{"bash", 1}, {program, 2}});
    EXPECT_EQ(detector.backupIsRunning(volume), running) << program;
  }
  rig.runner.setOutput({"status"}, "xRunning = 1x");
  EXPECT_EQ(detector.backupIsRunning(), true);
  rig.runner.setFailsToStart(true);
  EXPECT_EQ(detector.backupIsRunning(), std::nullopt);
}
