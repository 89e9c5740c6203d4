#include "core/byte_count_format.h"

#include <cstdint>
#include <limits>

#include <gtest/gtest.h>

namespace {

TEST(ByteCountFormat, SmallCountsAreBytes) {
  EXPECT_EQ(formatByteCount(0), "0 bytes");
  EXPECT_EQ(formatByteCount(1), "1 byte");
  EXPECT_EQ(formatByteCount(2), "2 bytes");
  EXPECT_EQ(formatByteCount(999), "999 bytes");
}

TEST(ByteCountFormat, KilobytesHaveNoDecimals) {
  EXPECT_EQ(formatByteCount(1000), "1 KB");
  EXPECT_EQ(formatByteCount(1499), "1 KB");
  EXPECT_EQ(formatByteCount(1501), "2 KB");
  EXPECT_EQ(formatByteCount(340'000), "340 KB");
  EXPECT_EQ(formatByteCount(999'499), "999 KB");
}

TEST(ByteCountFormat, UnitsAreDecimalNotBinary) {
  EXPECT_EQ(formatByteCount(1024), "1 KB");
  EXPECT_EQ(formatByteCount(1'000'000), "1 MB");
  EXPECT_EQ(formatByteCount(1'048'576), "1 MB");
}

TEST(ByteCountFormat, RoundingUpToAThousandMovesToTheNextUnit) {
  EXPECT_EQ(formatByteCount(999'500), "1 MB");
  EXPECT_EQ(formatByteCount(999'960'000), "1 GB");
  EXPECT_EQ(formatByteCount(999'996'000'000), "1 TB");
}

TEST(ByteCountFormat, LargerUnitsShowTheirDecimalsWithoutTrailingZeros) {
  EXPECT_EQ(formatByteCount(1'500'000), "1.5 MB");
  EXPECT_EQ(formatByteCount(1'234'567), "1.2 MB");
  EXPECT_EQ(formatByteCount(15'980'000'000), "15.98 GB");
  EXPECT_EQ(formatByteCount(16'000'000'000), "16 GB");
  EXPECT_EQ(formatByteCount(15'900'000'000), "15.9 GB");
  EXPECT_EQ(formatByteCount(2'000'000'000'000), "2 TB");
  EXPECT_EQ(formatByteCount(1'250'000'000'000'000), "1.25 PB");
}

TEST(ByteCountFormat, LargestCountStaysInExabytes) {
  EXPECT_EQ(formatByteCount(std::numeric_limits<std::int64_t>::max()), "9.22 EB");
}

} // namespace
