#include "core/support/identity.h"

#include <set>

#include <gtest/gtest.h>

namespace {

const std::filesystem::path osReleases =
    std::filesystem::path(VARNELO_TEST_FIXTURES) / "os-release";

TEST(OsString, NamesTheDistributionAndItsVersionWithoutThePatchNumber) {
  const std::tuple<const char*, const char*, const char*> cases[] = {
      {"debian-12", "6.1.0-18-amd64", "Debian GNU/Linux 12"},
      {"ubuntu-24.04", "6.8.0", "Ubuntu 24.04"},
      {"alpine-3.19.1", "6.6.7", "Alpine Linux 3.19"},
      {"arch", "6.7.1-arch1-1", "Arch Linux"}}; // rolling: the name alone
  for (const auto& [file, kernel, expected] : cases) {
    EXPECT_EQ(osStringFrom(readOsRelease({osReleases / file}), kernel), expected) << file;
  }
}

TEST(OsString, ReadsOddValuesOrFallsBackToLinuxAndTheKernelVersion) {
  const std::tuple<std::optional<std::string>, const char*, const char*> cases[] = {
      {"NAME='Odd \"OS\"'\nVERSION_ID=7\n", "6.1", "Odd \"OS\" 7"},
      {"NAME=\"Back\\\\slash\"\nVERSION_ID=\"1.2.3\"\n", "6.1", "Back\\slash 1.2"},
      {"# comment\nNAME=Plain\nVERSION_ID=2\n", "6.1", "Plain 2"},
      {"VERSION_ID=5\n", "6.1", "Linux 5"},
      {std::nullopt, "6.1.0-18-amd64", "Linux 6.1"},
      {std::nullopt, "6.18.44-fc-v1272", "Linux 6.18"},
      {std::nullopt, "5", "Linux 5"},
      {std::nullopt, "", "Linux"}};
  for (const auto& [text, kernel, expected] : cases) {
    EXPECT_EQ(osStringFrom(text, kernel), expected) << text.value_or("no os-release") << kernel;
  }
}

TEST(OsString, ReadsTheFirstOsReleaseThatExists) {
  const auto text = readOsRelease({"/nonexistent/os-release", osReleases / "ubuntu-24.04"});
  ASSERT_TRUE(text);
  EXPECT_EQ(osStringFrom(text, "6.1"), "Ubuntu 24.04");
  EXPECT_FALSE(readOsRelease({"/nonexistent/os-release"}));
}

TEST(OsString, OfThisMachineMatchesItsOsRelease) {
  const auto text = readOsRelease();
  if (!text) {
    GTEST_SKIP() << "this machine has no os-release";
  }
  EXPECT_EQ(currentOsString(), osStringFrom(text, ""));
}

TEST(VersionText, IsQuestionMarkWhenTheBuildGaveNone) {
  EXPECT_EQ(versionText(""), "?");
  EXPECT_EQ(versionText("0.1.0"), "0.1.0");
}

TEST(Uuid, NewIdentifiersAreCanonicalUpperCaseAndDistinct) {
  std::set<std::string> seen;
  for (int count = 0; count < 100; ++count) {
    const std::string id = newUuidText();
    ASSERT_EQ(id.size(), 36u);
    EXPECT_EQ(id.find_first_of("abcdef"), std::string::npos) << id;
    seen.insert(id);
  }
  EXPECT_EQ(seen.size(), 100u);
}

} // namespace
