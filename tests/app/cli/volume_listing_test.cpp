#include "app/cli/volume_listing.h"

#include <sstream>
#include <string>

#include <gtest/gtest.h>

namespace {

EjectableVolume volume(const std::string& name, const std::string& path) {
  EjectableVolume volume;
  volume.id = path;
  volume.name = name;
  volume.url = path;
  volume.sizeText = "16 GB";
  return volume;
}

TEST(VolumeLines, OneTabSeparatedLinePerVolumeInListOrderWithNamesEscaped) {
  auto image = volume("Backup\nDisk\xe2\x80\xae", "/media/me/Backup Disk");
  image.isDiskImage = true;
  image.isTimeMachine = true;
  auto bare = volume("Stick", "/media/me/Stick");
  bare.sizeText.clear();
  std::ostringstream out;
  printVolumeLines({image, bare}, out);
  EXPECT_EQ(out.str(),
            "Backup\\nDisk\\u202e\t16 GB\tdisk-image,time-machine\t/media/me/Backup Disk\n"
            "Stick\t-\t-\t/media/me/Stick\n");
}

TEST(VolumesJson, GivesEveryFieldEscapesControlsAndReplacesBadBytes) {
  EXPECT_EQ(volumesJsonText({}), "[]");
  auto stick = volume("two\nlines", "/media/caf\xe9");
  stick.isTimeMachine = true;
  const std::string text = volumesJsonText({stick});
  EXPECT_NE(text.find("two\\nlines"), std::string::npos);
  const auto json = nlohmann::json::parse(text);
  ASSERT_EQ(json.size(), 1u);
  EXPECT_EQ(json[0]["id"], "/media/caf\xef\xbf\xbd");
  EXPECT_EQ(json[0]["mountPath"], "/media/caf\xef\xbf\xbd");
  EXPECT_EQ(json[0]["name"], "two\nlines");
  EXPECT_EQ(json[0]["sizeText"], "16 GB");
  EXPECT_EQ(json[0]["isDiskImage"], false);
  EXPECT_EQ(json[0]["isTimeMachine"], true);
}

} // namespace
