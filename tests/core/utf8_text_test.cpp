#include "core/utf8_text.h"

#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace {

TEST(Utf8Text, AcceptsWellFormedTextRejectsAndReplacesEachIllFormedByte) {
  EXPECT_TRUE(isValidUtf8("\xC3\xA9t\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x92\xBE"));
  for (const char* bytes : {"\xff", "\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80",
                            "a\x80", "\xE2\x82"}) {
    EXPECT_FALSE(isValidUtf8(bytes)) << bytes;
  }
  EXPECT_EQ(replacingInvalidUtf8("a\xff\xC3\xA9"), "a\xEF\xBF\xBD\xC3\xA9");
}

TEST(Utf8Text, LeadingCharactersCountsWhatTheUserSeesAtAnyLength) {
  // "é" as e + combining acute is one character; the flag is one character of 8 bytes.
  const std::string combined = "e\xCC\x81";
  const std::string flag = "\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7";
  EXPECT_EQ(leadingCharacters(combined + "x" + flag + "yz", 3), combined + "x" + flag);
}

TEST(PrintableText, EscapesWhatCouldHideOrReorderALineAndKeepsOtherText) {
  for (const auto& [text, printed] : std::vector<std::pair<std::string, std::string>>{
           {"Clé 写真 🎞 {0} 100%", "Clé 写真 🎞 {0} 100%"},
           {"two\nlines\tand\rmore", "two\\nlines\\tand\\rmore"},
           {"esc\x1b[31m del\x7f b\\s \xc2\x9b", "esc\\x1b[31m del\\x7f b\\\\s \\u009b"},
           {"caf\xe9 \xc0\xaf a\xe2\x82", "caf\\xe9 \\xc0\\xaf a\\xe2\\x82"},
           // Right-to-left override: "USB\u202Egpj.exe" would show as "USBexe.jpg".
           {"USB\xe2\x80\xaegpj.exe", "USB\\u202egpj.exe"},
           {"\xe2\x81\xa6x\xe2\x81\xa9 \xe2\x80\x8f \xd8\x9c", "\\u2066x\\u2069 \\u200f \\u061c"},
           {"in\xe2\x80\x8bvisible\xef\xbb\xbf \xe2\x80\xa8", "in\\u200bvisible\\ufeff \\u2028"},
           {"tag\xf3\xa0\x81\x81", "tag\\U000e0041"},
           // Joiners belong to emoji and several scripts.
           {"👩\xe2\x80\x8d💻 \xe2\x80\x8c", "👩\xe2\x80\x8d💻 \xe2\x80\x8c"}}) {
    EXPECT_EQ(printableText(text), printed) << printed;
  }
}

} // namespace
