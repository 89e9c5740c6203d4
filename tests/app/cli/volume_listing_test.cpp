#include "app/cli/volume_listing.h"

#include <sstream>
#include <string>

#include <gtest/gtest.h>

namespace {

EjectableVolume volume(const std::string& name, const std::string& path) {
  return EjectableVolume{path, name, path, "16 GB", false, false};
}

} // namespace

TEST(PrintableText, KeepsPlainAndUtf8TextAsItIs) {
  EXPECT_EQ(printableText("My Stick 100% {0}"), "My Stick 100% {0}");
  EXPECT_EQ(printableText("Clé été 写真 🎞"), "Clé été 写真 🎞");
}

TEST(PrintableText, EscapesControlCharactersAndBackslash) {
  EXPECT_EQ(printableText("two\nlines\tand\rmore"), "two\\nlines\\tand\\rmore");
  EXPECT_EQ(printableText("bell\x07 esc\x1b[31m del\x7f"), "bell\\x07 esc\\x1b[31m del\\x7f");
  EXPECT_EQ(printableText("back\\slash"), "back\\\\slash");
  // U+009B is a terminal's one-byte CSI.
  EXPECT_EQ(printableText("c1\xc2\x9b"), "c1\\xc2\\x9b");
}

TEST(PrintableText, EscapesBytesThatAreNotUtf8) {
  EXPECT_EQ(printableText("caf\xe9"), "caf\\xe9");
  EXPECT_EQ(printableText("\xff\xfe"), "\\xff\\xfe");
  // Truncated sequence, overlong form, surrogate.
  EXPECT_EQ(printableText("a\xe2\x82"), "a\\xe2\\x82");
  EXPECT_EQ(printableText("\xc0\xaf"), "\\xc0\\xaf");
  EXPECT_EQ(printableText("\xed\xa0\x80"), "\\xed\\xa0\\x80");
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

TEST(VolumesJson, EmptyListIsAnEmptyArray) {
  EXPECT_EQ(volumesJsonText({}), "[]");
}

TEST(VolumesJson, BytesThatAreNotUtf8BecomeReplacementCharacters) {
  const std::string text = volumesJsonText({volume("caf\xe9", "/media/caf\xe9")});
  const auto json = nlohmann::json::parse(text);
  EXPECT_EQ(json[0]["name"], "caf\xef\xbf\xbd");
  EXPECT_EQ(json[0]["mountPath"], "/media/caf\xef\xbf\xbd");
}

TEST(VolumesJson, ControlCharactersAreJsonEscapes) {
  const std::string text = volumesJsonText({volume("two\nlines", "/media/x")});
  EXPECT_NE(text.find("two\\nlines"), std::string::npos);
}
