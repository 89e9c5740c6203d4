#include "core/support/identity.h"

#include "core/support/endpoints.h"

#include <gtest/gtest.h>

namespace {

TEST(OsString, NamesTheDistributionAndVersionWithoutPatchOrFallsBackToTheKernel) {
  const std::filesystem::path releases =
      std::filesystem::path(VARNELO_TEST_FIXTURES) / "os-release";
  const std::tuple<std::optional<std::string>, const char*, const char*> cases[] = {
      {readOsRelease({"/nonexistent", releases / "debian-12"}), "6.1.0", "Debian GNU/Linux 12"},
      {readOsRelease({releases / "alpine-3.19.1"}), "6.6.7", "Alpine Linux 3.19"},
      {readOsRelease({releases / "arch"}), "6.7.1-arch1-1", "Arch Linux"},
      {"NAME='Odd \"OS\"'\nVERSION_ID=7\n", "6.1", "Odd \"OS\" 7"},
      {"NAME=\"Back\\\\slash\"\nVERSION_ID=\"1.2.3\"\n", "6.1", "Back\\slash 1.2"},
      {"# comment\nVERSION_ID=5\n", "6.1", "Linux 5"},
      {readOsRelease({"/nonexistent"}), "6.18.44-fc-v1272", "Linux 6.18"},
      {std::nullopt, "", "Linux"}};
  for (const auto& [text, kernel, expected] : cases) {
    EXPECT_EQ(osStringFrom(text, kernel), expected) << text.value_or("none") << kernel;
  }
  EXPECT_EQ(versionText(""), "?");
  // Only http addresses with a host are taken from the build's configuration.
  for (const char* text : {"", "api.example.com/check", "ftp://example.com/", "https:///path"}) {
    EXPECT_FALSE(Endpoints::isUsableUrl(text)) << text;
  }
}

} // namespace
