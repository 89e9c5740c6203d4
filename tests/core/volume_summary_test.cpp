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
  const std::pair<std::array<const char*, 3>, std::vector<std::string>> rows[] = {
      {{"sv_SE.UTF-8", "de_DE.UTF-8", "de_DE.UTF-8"}, swedish},
      {{"", "de_DE.UTF-8", "sv_SE.UTF-8"}, german},
      {{nullptr, "", "sv_SE@euro"}, swedish},
      {{"C.UTF-8", nullptr, "sv_SE.UTF-8"}, german}};
  for (const auto& [values, expected] : rows) {
    rig.environment.clear();
    for (std::size_t index = 0; index < values.size(); ++index) {
      if (values[index] != nullptr) {
        rig.environment[std::array{"LC_ALL", "LC_COLLATE", "LANG"}[index]] = values[index];
      }
    }
    EXPECT_EQ(namesOf(rig.makeEngine()->volumes()), expected) << testing::PrintToString(values);
  }
}

} // namespace
