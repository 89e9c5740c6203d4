#include "core/byte_count_format.h"

#include <limits>

#include <gtest/gtest.h>

namespace {

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
