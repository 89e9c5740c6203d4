#include "core/support/identity.h"

#include <fstream>
#include <set>

#include <gtest/gtest.h>

namespace {

std::optional<std::string> fixture(const std::string& name) {
  return readOsRelease({std::filesystem::path(VARNELO_TEST_FIXTURES) / "os-release" / name});
}

TEST(OsString, NamesTheDistributionAndItsVersion) {
  EXPECT_EQ(osStringFrom(fixture("debian-12"), "6.1.0-18-amd64"), "Debian GNU/Linux 12");
  EXPECT_EQ(osStringFrom(fixture("ubuntu-24.04"), "6.8.0"), "Ubuntu 24.04");
}

TEST(OsString, DropsThePatchNumber) {
  EXPECT_EQ(osStringFrom(fixture("alpine-3.19.1"), "6.6.7"), "Alpine Linux 3.19");
}

TEST(OsString, IsTheNameAloneForARollingDistributionWithoutVersion) {
  EXPECT_EQ(osStringFrom(fixture("arch"), "6.7.1-arch1-1"), "Arch Linux");
}

TEST(OsString, ReadsQuotedEscapedAndUnquotedValues) {
  EXPECT_EQ(osStringFrom("NAME='Odd \"OS\"'\nVERSION_ID=7\n", "6.1"), "Odd \"OS\" 7");
  EXPECT_EQ(osStringFrom("NAME=\"Back\\\\slash\"\nVERSION_ID=\"1.2.3\"\n", "6.1"),
            "Back\\slash 1.2");
  EXPECT_EQ(osStringFrom("# comment\nNAME=Plain\nVERSION_ID=2\n", "6.1"), "Plain 2");
}

TEST(OsString, SaysLinuxWhenOsReleaseHasNoName) {
  EXPECT_EQ(osStringFrom("VERSION_ID=5\n", "6.1"), "Linux 5");
}

TEST(OsString, FallsBackToTheKernelVersionWithoutOsRelease) {
  EXPECT_EQ(osStringFrom(std::nullopt, "6.1.0-18-amd64"), "Linux 6.1");
  EXPECT_EQ(osStringFrom(std::nullopt, "6.18.44-fc-v1272"), "Linux 6.18");
  EXPECT_EQ(osStringFrom(std::nullopt, "5"), "Linux 5");
  EXPECT_EQ(osStringFrom(std::nullopt, ""), "Linux");
}

TEST(OsString, ReadsTheFirstOsReleaseThatExists) {
  const auto text =
      readOsRelease({"/nonexistent/os-release",
                     std::filesystem::path(VARNELO_TEST_FIXTURES) / "os-release" / "ubuntu-24.04"});
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
