#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/eject_engine.h"
#include "core/localization.h"

namespace {

EjectableVolume disk(const std::string& name, bool timeMachine = false) {
  return EjectableVolume{"/media/" + name, name, "/media/" + name, "16 GB", false, timeMachine};
}

EjectableVolume image(const std::string& name) {
  return EjectableVolume{"/media/" + name, name, "/media/" + name, "1 GB", true, false};
}

std::string summaryOf(const std::vector<EjectableVolume>& volumes) {
  return EjectEngine::resume(volumes);
}

TEST(VolumeSummary, NoVolumes) {
  EXPECT_EQ(summaryOf({}), L("eject.no_volumes"));
}

TEST(VolumeSummary, DisksOnlyUseTheConnectedKeys) {
  EXPECT_EQ(summaryOf({disk("A")}), L("eject.volumes_connected_one", std::int64_t{1}));
  EXPECT_EQ(summaryOf({disk("A"), disk("B")}), L("eject.volumes_connected_other", std::int64_t{2}));
  EXPECT_EQ(summaryOf({disk("A"), disk("B"), disk("C"), disk("D"), disk("E")}),
            L("eject.volumes_connected_other", std::int64_t{5}));
}

TEST(VolumeSummary, ImagesOnlyUseTheMountedKeys) {
  EXPECT_EQ(summaryOf({image("A")}), L("eject.images_mounted_one", std::int64_t{1}));
  EXPECT_EQ(summaryOf({image("A"), image("B")}), L("eject.images_mounted_other", std::int64_t{2}));
  EXPECT_EQ(summaryOf({image("A"), image("B"), image("C")}),
            L("eject.images_mounted_other", std::int64_t{3}));
}

TEST(VolumeSummary, BothKindsPutTheDisksPhraseFirst) {
  EXPECT_EQ(summaryOf({disk("A"), image("B")}),
            L("eject.mixed_connected", L("eject.count_disks_one", std::int64_t{1}),
              L("eject.count_images_one", std::int64_t{1})));
  EXPECT_EQ(summaryOf({image("I1"), disk("D1"), image("I2"), disk("D2"), disk("D3")}),
            L("eject.mixed_connected", L("eject.count_disks_other", std::int64_t{3}),
              L("eject.count_images_other", std::int64_t{2})));
  EXPECT_EQ(summaryOf({disk("A"), image("B"), image("C")}),
            L("eject.mixed_connected", L("eject.count_disks_one", std::int64_t{1}),
              L("eject.count_images_other", std::int64_t{2})));
  EXPECT_EQ(summaryOf({disk("A"), disk("B"), image("C")}),
            L("eject.mixed_connected", L("eject.count_disks_other", std::int64_t{2}),
              L("eject.count_images_one", std::int64_t{1})));
}

TEST(VolumeSummary, TimeMachineVolumesCountAsDisks) {
  EXPECT_EQ(summaryOf({disk("Backup", true)}), L("eject.volumes_connected_one", std::int64_t{1}));
  EXPECT_EQ(summaryOf({disk("Backup", true), image("B")}),
            L("eject.mixed_connected", L("eject.count_disks_one", std::int64_t{1}),
              L("eject.count_images_one", std::int64_t{1})));
}

TEST(VolumeSummary, EnglishTextsReadNaturally) {
  if (L("eject.no_volumes") == "eject.no_volumes") {
    GTEST_SKIP() << "the localisation tables are not beside the test executable";
  }
  if (Localizer::languagesFromEnvironment().empty() ||
      Localizer::languagesFromEnvironment().front() != "en") {
    GTEST_SKIP() << "the test environment asks for another language";
  }
  EXPECT_EQ(summaryOf({disk("A")}), "1 volume connected");
  EXPECT_EQ(summaryOf({disk("A"), disk("B")}), "2 volumes connected");
  EXPECT_EQ(summaryOf({image("A")}), "1 disk image mounted");
  EXPECT_EQ(summaryOf({disk("A"), disk("B"), disk("C"), image("D"), image("E")}),
            "3 disks and 2 disk images connected");
}

} // namespace
