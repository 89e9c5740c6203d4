#include "app/cli/volume_listing.h"

#include <sstream>
#include <string>
#include <utility>
#include <vector>

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

} // namespace

TEST(PrintableText, KeepsUtf8TextAndEscapesControlsBackslashAndBytesThatAreNotUtf8) {
  for (const auto& [text, printed] : std::vector<std::pair<std::string, std::string>>{
           {"My Stick 100% {0}", "My Stick 100% {0}"},
           {"Clé été 写真 🎞", "Clé été 写真 🎞"},
           {"two\nlines\tand\rmore", "two\\nlines\\tand\\rmore"},
           {"bell\x07 esc\x1b[31m del\x7f", "bell\\x07 esc\\x1b[31m del\\x7f"},
           {"back\\slash", "back\\\\slash"},
           {"c1\xc2\x9b", "c1\\xc2\\x9b"}, // U+009B is a terminal's one-byte CSI
           {"caf\xe9", "caf\\xe9"},
           {"\xff\xfe", "\\xff\\xfe"},
           {"a\xe2\x82", "a\\xe2\\x82"},           // truncated sequence
           {"\xc0\xaf", "\\xc0\\xaf"},             // overlong form
           {"\xed\xa0\x80", "\\xed\\xa0\\x80"}}) { // surrogate
    EXPECT_EQ(printableText(text), printed) << printed;
  }
}

TEST(VolumeLines, OneTabSeparatedLinePerVolumeInListOrder) {
  auto image = volume("Backup\nDisk", "/media/me/Backup Disk");
  image.isDiskImage = true;
  image.isTimeMachine = true;
  auto bare = volume("Stick", "/media/me/Stick");
  bare.sizeText.clear();
  std::ostringstream out;
  printVolumeLines({image, bare}, out);
  EXPECT_EQ(out.str(), "Backup\\nDisk\t16 GB\tdisk-image,time-machine\t/media/me/Backup Disk\n"
                       "Stick\t-\t-\t/media/me/Stick\n");
}

TEST(VolumesJson, GivesEveryFieldOfEachVolume) {
  auto stick = volume("Stick", "/media/me/Stick");
  stick.isTimeMachine = true;
  const auto json = nlohmann::json::parse(volumesJsonText({stick}));
  ASSERT_EQ(json.size(), 1u);
  EXPECT_EQ(json[0]["id"], "/media/me/Stick");
  EXPECT_EQ(json[0]["name"], "Stick");
  EXPECT_EQ(json[0]["sizeText"], "16 GB");
  EXPECT_EQ(json[0]["isDiskImage"], false);
  EXPECT_EQ(json[0]["isTimeMachine"], true);
  EXPECT_EQ(json[0]["mountPath"], "/media/me/Stick");
}

TEST(VolumesJson, EscapesControlsReplacesBadBytesAndGivesAnEmptyArrayForNoVolumes) {
  EXPECT_EQ(volumesJsonText({}), "[]");
  const std::string text =
      volumesJsonText({volume("caf\xe9", "/media/caf\xe9"), volume("two\nlines", "/media/x")});
  EXPECT_NE(text.find("two\\nlines"), std::string::npos);
  const auto json = nlohmann::json::parse(text);
  EXPECT_EQ(json[0]["name"], "caf\xef\xbf\xbd");
  EXPECT_EQ(json[0]["mountPath"], "/media/caf\xef\xbf\xbd");
}
