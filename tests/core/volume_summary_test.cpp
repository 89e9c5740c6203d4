#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/eject_engine.h"
#include "tests/core/eject_engine_rig.h"

namespace {

// The test environment asks for English.
TEST(VolumeSummary, CountsDisksAndImagesWithTheDisksPhraseFirstAndBackupsAsDisks) {
  EjectableVolume disk, image, backup;
  image.isDiskImage = true;
  backup.isTimeMachine = true;
  const std::pair<std::vector<EjectableVolume>, const char*> rows[] = {
      {{}, "No external volumes"},
      {{backup}, "1 volume connected"},
      {{disk, backup, disk}, "3 volumes connected"},
      {{image}, "1 disk image mounted"},
      {{image, image, image}, "3 disk images mounted"},
      {{backup, image}, "1 disk and 1 disk image connected"},
      {{image, disk, image, disk, disk}, "3 disks and 2 disk images connected"}};
  for (const auto& [volumes, expected] : rows) {
    EXPECT_EQ(EjectEngine::resume(volumes), expected);
  }
}

// Collation follows LC_ALL, LC_COLLATE, LANG: Swedish puts "Ä" after "Z", German by "A".
TEST(VolumeOrder, CollationLocaleComesFromLcAllThenLcCollateThenLang) {
  EngineRig rig;
  rig.source.setVolumes({{"/media/z", FakeVolumeSource::external("Zebra")},
                         {"/media/a", FakeVolumeSource::external("Äpple")}});
  const std::vector<std::string> swedish{"Zebra", "Äpple"};
  const std::vector<std::string> german{"Äpple", "Zebra"};
  const std::pair<std::map<std::string, std::string>, std::vector<std::string>> rows[] = {
      {{{"LC_ALL", "sv_SE.UTF-8"}, {"LC_COLLATE", "de_DE.UTF-8"}, {"LANG", "de_DE.UTF-8"}},
       swedish},
      {{{"LC_ALL", ""}, {"LC_COLLATE", "de_DE.UTF-8"}, {"LANG", "sv_SE.UTF-8"}}, german},
      {{{"LC_COLLATE", ""}, {"LANG", "sv_SE@euro"}}, swedish},
      {{{"LC_ALL", "C.UTF-8"}, {"LANG", "sv_SE.UTF-8"}}, german}};
  for (const auto& [environment, expected] : rows) {
    rig.environment = environment;
    EXPECT_EQ(namesOf(rig.makeEngine()->volumes()), expected)
        << testing::PrintToString(environment);
  }
}

} // namespace
