#include "core/support/endpoints.h"

#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "build_config.h"

namespace {

std::vector<std::uint8_t> scrambled(std::string_view text, std::span<const std::uint8_t> mask) {
  std::vector<std::uint8_t> bytes;
  for (std::size_t index = 0; index < text.size(); ++index) {
    bytes.push_back(static_cast<std::uint8_t>(text[index]) ^ mask[index % mask.size()]);
  }
  return bytes;
}

TEST(Endpoints, ReadBackTheAddressesTheBuildWasConfiguredWithThoughNotStoredAsPlainText) {
  EXPECT_EQ(Endpoints::check(), VARNELO_TEST_CHECK_URL);
  EXPECT_EQ(Endpoints::report(), VARNELO_TEST_REPORT_URL);
  EXPECT_EQ(Endpoints::crash(), VARNELO_TEST_CRASH_URL);
  const std::string_view stored(reinterpret_cast<const char*>(build_config::crashEndpoint),
                                sizeof build_config::crashEndpoint);
  EXPECT_EQ(stored.size(), Endpoints::crash().size());
  EXPECT_EQ(stored.find("://"), std::string_view::npos);
}

TEST(Endpoints, UnscrambleAppliesTheMaskCyclicallyAndReplacesBytesThatAreNotUtf8) {
  const std::string address = "https://example.invalid/a/rather/long/path/beyond/sixteen";
  EXPECT_EQ(Endpoints::unscramble(scrambled(address, build_config::endpointMask),
                                  build_config::endpointMask),
            address);
  const std::vector<std::uint8_t> bytes{'a', 0xff, 'b', 0xc3, 0xa9};
  EXPECT_EQ(Endpoints::unscramble(bytes, std::vector<std::uint8_t>{0x00}), "a\xEF\xBF\xBD"
                                                                           "b\xC3\xA9");
}

TEST(Endpoints, OnlyHttpAddressesWithAHostAreUsable) {
  EXPECT_TRUE(Endpoints::isUsableUrl("https://api.example.com/eject/v1/check"));
  EXPECT_TRUE(Endpoints::isUsableUrl("http://127.0.0.1:8080/x"));
  for (const char* text : {"", "api.example.com/check", "ftp://example.com/", "https://",
                           "https:///path", "https://:80/", "https://exa mple.com/"}) {
    EXPECT_FALSE(Endpoints::isUsableUrl(text)) << text;
  }
}

} // namespace
