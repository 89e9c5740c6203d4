#include "core/utf8_text.h"

#include <gtest/gtest.h>

namespace {

TEST(Utf8Text, AcceptsWellFormedTextRejectsAndReplacesEachIllFormedByte) {
  EXPECT_TRUE(isValidUtf8(""));
  EXPECT_TRUE(isValidUtf8("plain"));
  EXPECT_TRUE(isValidUtf8("\xC3\xA9t\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x92\xBE"));
  for (const char* bytes : {"\xff", "\xC3", "\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80",
                            "\xF4\x90\x80\x80", "a\x80", "\xE2\x82"}) {
    EXPECT_FALSE(isValidUtf8(bytes)) << bytes;
  }
  EXPECT_EQ(replacingInvalidUtf8("a\xff\xfe"
                                 "b"),
            "a\xEF\xBF\xBD\xEF\xBF\xBD"
            "b");
  EXPECT_EQ(replacingInvalidUtf8("\xC3\xA9"), "\xC3\xA9");
}

TEST(Utf8Text, LeadingCharactersCountsWhatTheUserSeesAtAnyLength) {
  // "é" as e + combining acute is one character; the flag is one character of 8 bytes.
  const std::string combined = "e\xCC\x81";
  const std::string flag = "\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7";
  EXPECT_EQ(leadingCharacters(combined + "x" + flag + "yz", 3), combined + "x" + flag);
  EXPECT_EQ(leadingCharacters("short", 18000), "short");
  EXPECT_EQ(leadingCharacters("abc", 0), "");
  std::string text;
  for (int count = 0; count < 50000; ++count) {
    text += count % 2 == 0 ? "\xC3\xA9" : "a";
  }
  const std::string lead = leadingCharacters(text, 18000);
  EXPECT_EQ(lead.size(), 9000u * 3);
  EXPECT_EQ(text.compare(0, lead.size(), lead), 0);
}

} // namespace
