#include "core/byte_count_format.h"

#include <cstdint>
#include <limits>

#include <gtest/gtest.h>

namespace {

TEST(ByteCountFormat, DecimalUnitsRoundedWithDecimalsOnlyFromMegabytesAndNoTrailingZeros) {
  // Units are decimal, not binary, and rounding up to a thousand moves to the next unit.
  const std::pair<std::int64_t, const char*> cases[] = {
      {0, "0 bytes"},
      {1, "1 byte"},
      {999, "999 bytes"},
      {1000, "1 KB"},
      {1024, "1 KB"},
      {1501, "2 KB"},
      {999'499, "999 KB"},
      {999'500, "1 MB"},
      {999'960'000, "1 GB"},
      {999'996'000'000, "1 TB"},
      {1'048'576, "1 MB"},
      {1'500'000, "1.5 MB"},
      {1'234'567, "1.2 MB"},
      {15'980'000'000, "15.98 GB"},
      {16'000'000'000, "16 GB"},
      {1'250'000'000'000'000, "1.25 PB"},
      {std::numeric_limits<std::int64_t>::max(), "9.22 EB"}};
  for (const auto& [bytes, expected] : cases) {
    EXPECT_EQ(formatByteCount(bytes, ByteCountStyle{}), expected) << bytes;
  }
}

TEST(ByteCountFormat, FollowsTheLanguagesUnitsAndTheLocalesSeparator) {
  ByteCountStyle french;
  french.decimalSeparator = ",";
  french.oneByte = "{} octet";
  french.units[1] = "{} Mo";
  french.units[2] = "{} Go";
  EXPECT_EQ(formatByteCount(26'500'000, french), "26,5 Mo");
  EXPECT_EQ(formatByteCount(15'980'000'000, french), "15,98 Go");
  EXPECT_EQ(formatByteCount(1, french), "1 octet");
  // The tests run under C.UTF-8 and English tables.
  EXPECT_EQ(formatByteCount(1'500'000), "1.5 MB");
  EXPECT_EQ(decimalSeparatorOfLocale("C.UTF-8"), ".");
  EXPECT_EQ(decimalSeparatorOfLocale("xx_NOWHERE.UTF-8"), std::nullopt);
  if (const auto separator = decimalSeparatorOfLocale("fr_FR.UTF-8")) {
    EXPECT_EQ(*separator, ",");
  }
}

} // namespace
