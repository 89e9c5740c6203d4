#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/eject_engine.h"
#include "core/localization.h"

namespace {

EjectableVolume disk(const std::string& name, bool timeMachine = false) {
  EjectableVolume volume;
  volume.id = "/media/" + name;
  volume.name = name;
  volume.isTimeMachine = timeMachine;
  return volume;
}

EjectableVolume image(const std::string& name) {
  EjectableVolume volume = disk(name);
  volume.isDiskImage = true;
  return volume;
}

std::string mixed(const char* disks, std::int64_t diskCount, const char* images,
                  std::int64_t imageCount) {
  return L("eject.mixed_connected", L(disks, diskCount), L(images, imageCount));
}

TEST(VolumeSummary, CountsDisksAndImagesWithTheDisksPhraseFirstAndBackupsAsDisks) {
  const std::pair<std::vector<EjectableVolume>, std::string> cases[] = {
      {{}, L("eject.no_volumes")},
      {{disk("A")}, L("eject.volumes_connected_one", std::int64_t{1})},
      {{disk("A"), disk("B")}, L("eject.volumes_connected_other", std::int64_t{2})},
      {{disk("A"), disk("B"), disk("C"), disk("D"), disk("E")},
       L("eject.volumes_connected_other", std::int64_t{5})},
      {{image("A")}, L("eject.images_mounted_one", std::int64_t{1})},
      {{image("A"), image("B")}, L("eject.images_mounted_other", std::int64_t{2})},
      {{image("A"), image("B"), image("C")}, L("eject.images_mounted_other", std::int64_t{3})},
      {{disk("A"), image("B")}, mixed("eject.count_disks_one", 1, "eject.count_images_one", 1)},
      {{image("I1"), disk("D1"), image("I2"), disk("D2"), disk("D3")},
       mixed("eject.count_disks_other", 3, "eject.count_images_other", 2)},
      {{disk("A"), image("B"), image("C")},
       mixed("eject.count_disks_one", 1, "eject.count_images_other", 2)},
      {{disk("A"), disk("B"), image("C")},
       mixed("eject.count_disks_other", 2, "eject.count_images_one", 1)},
      {{disk("Backup", true)}, L("eject.volumes_connected_one", std::int64_t{1})},
      {{disk("Backup", true), image("B")},
       mixed("eject.count_disks_one", 1, "eject.count_images_one", 1)}};
  for (std::size_t row = 0; row < std::size(cases); ++row) {
    EXPECT_EQ(EjectEngine::resume(cases[row].first), cases[row].second) << "row " << row;
  }
}

TEST(VolumeSummary, EnglishTextsReadNaturally) {
  if (L("eject.no_volumes") == "eject.no_volumes") {
    GTEST_SKIP() << "the localisation tables are not beside the test executable";
  }
  if (Localizer::languagesFromEnvironment().empty() ||
      Localizer::languagesFromEnvironment().front() != "en") {
    GTEST_SKIP() << "the test environment asks for another language";
  }
  EXPECT_EQ(EjectEngine::resume({disk("A")}), "1 volume connected");
  EXPECT_EQ(EjectEngine::resume({disk("A"), disk("B")}), "2 volumes connected");
  EXPECT_EQ(EjectEngine::resume({image("A")}), "1 disk image mounted");
  EXPECT_EQ(EjectEngine::resume({disk("A"), disk("B"), disk("C"), image("D"), image("E")}),
            "3 disks and 2 disk images connected");
}

} // namespace
