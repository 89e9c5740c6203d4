#include "core/byte_count_format.h"
#include "core/utf8_text.h"

#include <limits>
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

TEST(ByteCountFormat, DecimalUnitsRoundedWithDecimalsFromMegabytesInTheUsersConventions) {
  ByteCountStyle french;
  french.decimalSeparator = ",";
  french.oneByte = "{} octet";
  french.bytes = "{} octets";
  french.units = {"{} ko", "{} Mo", "{} Go", "{} To", "{} Po", "{} Eo"};
  const std::tuple<std::int64_t, const char*, const char*> cases[] = {
      {0, "0 bytes", "0 octets"},
      {1, "1 byte", "1 octet"},
      {1024, "1 KB", "1 ko"},
      {1501, "2 KB", "2 ko"},
      {999'499, "999 KB", "999 ko"},
      {999'500, "1 MB", "1 Mo"},
      {999'960'000, "1 GB", "1 Go"},
      {1'234'567, "1.2 MB", "1,2 Mo"},
      {15'980'000'000, "15.98 GB", "15,98 Go"},
      {std::numeric_limits<std::int64_t>::max(), "9.22 EB", "9,22 Eo"}};
  for (const auto& [bytes, english, inFrench] : cases) {
    EXPECT_EQ(formatByteCount(bytes, ByteCountStyle{}), english) << bytes;
    EXPECT_EQ(formatByteCount(bytes, french), inFrench) << bytes;
  }
  EXPECT_EQ(formatByteCount(1'500'000), "1.5 MB");
  EXPECT_EQ(decimalSeparatorOfLocale("C.UTF-8"), ".");
  EXPECT_EQ(decimalSeparatorOfLocale("xx_NOWHERE.UTF-8"), std::nullopt);
}

} // namespace
