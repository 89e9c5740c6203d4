#include "core/byte_count_format.h"

#include <cstdint>
#include <limits>

#include <gtest/gtest.h>

namespace {

TEST(ByteCountFormat, DecimalUnitsRoundedWithDecimalsOnlyFromMegabytesAndNoTrailingZeros) {
  // Kilobytes have no decimals, units are decimal not binary, and rounding up to a thousand
  // moves to the next unit.
  const std::pair<std::int64_t, const char*> cases[] = {
      {0, "0 bytes"},
      {1, "1 byte"},
      {2, "2 bytes"},
      {999, "999 bytes"},
      {1000, "1 KB"},
      {1024, "1 KB"},
      {1499, "1 KB"},
      {1501, "2 KB"},
      {340'000, "340 KB"},
      {999'499, "999 KB"},
      {999'500, "1 MB"},
      {999'960'000, "1 GB"},
      {999'996'000'000, "1 TB"},
      {1'000'000, "1 MB"},
      {1'048'576, "1 MB"},
      {1'500'000, "1.5 MB"},
      {1'234'567, "1.2 MB"},
      {15'980'000'000, "15.98 GB"},
      {16'000'000'000, "16 GB"},
      {15'900'000'000, "15.9 GB"},
      {2'000'000'000'000, "2 TB"},
      {1'250'000'000'000'000, "1.25 PB"},
  };
  for (const auto& [bytes, expected] : cases) {
    EXPECT_EQ(formatByteCount(bytes), expected) << bytes;
  }
  EXPECT_EQ(formatByteCount(std::numeric_limits<std::int64_t>::max()), "9.22 EB");
}

} // namespace
