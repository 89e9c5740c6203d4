#include "platform/linux/xdg_autostart_login_item.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/temporary_folder.h"

namespace {

std::string readFile(const std::filesystem::path& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

void writeFile(const std::filesystem::path& path, const std::string& text) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path) << text;
}

XdgAutostartLoginItem::Environment environmentOf(const std::map<std::string, std::string>& values) {
  return [values](const std::string& name) -> std::optional<std::string> {
    const auto found = values.find(name);
    if (found == values.end())
      return std::nullopt;
    return found->second;
  };
}

XdgAutostartLoginItem itemIn(const std::filesystem::path& folder,
                             std::string executable = "/usr/bin/varnelo-eject") {
  return XdgAutostartLoginItem(folder, {"VarneloEject", std::move(executable), "varnelo-eject"});
}

} // namespace

TEST(AutostartFolder, FollowsAnAbsoluteConfigHome) {
  EXPECT_EQ(XdgAutostartLoginItem::standardFolder(
                environmentOf({{"XDG_CONFIG_HOME", "/tmp/conf"}, {"HOME", "/home/ann"}})),
            std::filesystem::path("/tmp/conf/autostart"));
}

TEST(AutostartFolder, IgnoresAnEmptyOrRelativeConfigHome) {
  EXPECT_EQ(XdgAutostartLoginItem::standardFolder(
                environmentOf({{"XDG_CONFIG_HOME", ""}, {"HOME", "/home/ann"}})),
            std::filesystem::path("/home/ann/.config/autostart"));
  EXPECT_EQ(XdgAutostartLoginItem::standardFolder(
                environmentOf({{"XDG_CONFIG_HOME", "conf"}, {"HOME", "/home/ann"}})),
            std::filesystem::path("/home/ann/.config/autostart"));
}

TEST(AutostartFolder, WithoutHomeUsesTheAccountsHomeFolder) {
  const std::filesystem::path folder = XdgAutostartLoginItem::standardFolder(environmentOf({}));
  EXPECT_TRUE(folder.is_absolute());
  EXPECT_EQ(folder.filename(), "autostart");
}

TEST(AutostartEntry, RunningExecutableIsThisTestProgram) {
  const std::string path = XdgAutostartLoginItem::runningExecutable();
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(std::filesystem::path(path).filename(), "platform_linux_tests");
}

TEST(AutostartEntry, PlainPathsStayUnquoted) {
  EXPECT_EQ(XdgAutostartLoginItem::execArgument("/usr/bin/varnelo-eject"),
            "/usr/bin/varnelo-eject");
}

TEST(AutostartEntry, ReservedCharactersAreQuotedAndEscapedTwice) {
  EXPECT_EQ(XdgAutostartLoginItem::execArgument("/opt/My Apps/eject"), "\"/opt/My Apps/eject\"");
  // Inside quotes $ becomes \$, and the string value then doubles every backslash.
  EXPECT_EQ(XdgAutostartLoginItem::execArgument("/opt/a$b/eject"), "\"/opt/a\\\\$b/eject\"");
  EXPECT_EQ(XdgAutostartLoginItem::execArgument("/opt/a\"b"), "\"/opt/a\\\\\"b\"");
}

TEST(AutostartEntry, PercentSignsAreNotFieldCodes) {
  EXPECT_EQ(XdgAutostartLoginItem::execArgument("/opt/100%/eject"), "/opt/100%%/eject");
}

TEST(AutostartEntry, TextStartsTheProgramAndIsEnabled) {
  TemporaryFolder home;
  const std::string text = itemIn(home / "autostart").entryText();
  EXPECT_EQ(text.rfind("[Desktop Entry]\n", 0), 0u);
  EXPECT_NE(text.find("\nType=Application\n"), std::string::npos);
  EXPECT_NE(text.find("\nName=VarneloEject\n"), std::string::npos);
  EXPECT_NE(text.find("\nExec=/usr/bin/varnelo-eject\n"), std::string::npos);
  EXPECT_NE(text.find("\nIcon=varnelo-eject\n"), std::string::npos);
  EXPECT_NE(text.find("\nX-GNOME-Autostart-enabled=true\n"), std::string::npos);
}

TEST(AutostartStatus, NoFileIsNotRegistered) {
  TemporaryFolder home;
  EXPECT_EQ(itemIn(home / "autostart").status(), LoginItemStatus::notRegistered);
}

TEST(AutostartStatus, HiddenOrGnomeDisabledEntriesAreDisabled) {
  TemporaryFolder home;
  XdgAutostartLoginItem item = itemIn(home / "autostart");
  writeFile(item.entryPath(), "[Desktop Entry]\nExec=/x\nHidden = True\n");
  EXPECT_EQ(item.status(), LoginItemStatus::disabled);
  writeFile(item.entryPath(), "[Desktop Entry]\nExec=/x\nX-GNOME-Autostart-enabled=false\n");
  EXPECT_EQ(item.status(), LoginItemStatus::disabled);
}

TEST(AutostartStatus, KeysOutsideTheMainGroupAndCommentsDoNotCount) {
  TemporaryFolder home;
  XdgAutostartLoginItem item = itemIn(home / "autostart");
  writeFile(item.entryPath(), "# Hidden=true\n[Desktop Entry]\nExec=/x\nHidden=false\n"
                              "[Desktop Action Other]\nHidden=true\n");
  EXPECT_EQ(item.status(), LoginItemStatus::enabled);
}

TEST(AutostartStatus, SomethingElseInPlaceOfTheFileIsDisabled) {
  TemporaryFolder home;
  XdgAutostartLoginItem item = itemIn(home / "autostart");
  std::filesystem::create_directories(item.entryPath());
  EXPECT_EQ(item.status(), LoginItemStatus::disabled);
}

TEST(AutostartChanges, RegisterCreatesTheFolderAndAnEnabledEntry) {
  TemporaryFolder home;
  XdgAutostartLoginItem item = itemIn(home / "config" / "autostart");
  const LoginItemOutcome outcome = item.registerItem();
  ASSERT_TRUE(outcome.success) << outcome.errorText;
  EXPECT_EQ(readFile(item.entryPath()), item.entryText());
  EXPECT_EQ(item.status(), LoginItemStatus::enabled);
  const auto permissions = std::filesystem::status(item.entryPath()).permissions();
  EXPECT_NE(permissions & std::filesystem::perms::others_read, std::filesystem::perms::none);
  // No temporary file is left beside it.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(item.entryPath().parent_path()),
                          std::filesystem::directory_iterator()),
            1);
}

TEST(AutostartChanges, RegisterEnablesAnEntryTheDesktopTurnedOff) {
  TemporaryFolder home;
  XdgAutostartLoginItem item = itemIn(home / "autostart");
  writeFile(item.entryPath(), "[Desktop Entry]\nExec=/x\nX-GNOME-Autostart-enabled=false\n");
  ASSERT_TRUE(item.registerItem().success);
  EXPECT_EQ(item.status(), LoginItemStatus::enabled);
}

TEST(AutostartChanges, UnregisterRemovesTheEntryAndToleratesItsAbsence) {
  TemporaryFolder home;
  XdgAutostartLoginItem item = itemIn(home / "autostart");
  ASSERT_TRUE(item.registerItem().success);
  EXPECT_TRUE(item.unregisterItem().success);
  EXPECT_FALSE(std::filesystem::exists(item.entryPath()));
  EXPECT_TRUE(item.unregisterItem().success);
  EXPECT_EQ(item.status(), LoginItemStatus::notRegistered);
}

TEST(AutostartChanges, AFileWhereTheFolderShouldBeIsRefusedWithItsReason) {
  TemporaryFolder home;
  writeFile(home / "autostart", "not a folder");
  XdgAutostartLoginItem item = itemIn(home / "autostart");
  const LoginItemOutcome outcome = item.registerItem();
  EXPECT_FALSE(outcome.success);
  EXPECT_NE(outcome.errorText.find((home / "autostart").string()), std::string::npos);
  EXPECT_EQ(item.status(), LoginItemStatus::notRegistered);
}

TEST(AutostartChanges, AFolderWithoutWritePermissionIsRefused) {
  if (geteuid() == 0) {
    GTEST_SKIP() << "root writes into read-only folders";
  }
  TemporaryFolder home;
  std::filesystem::create_directories(home / "autostart");
  std::filesystem::permissions(home / "autostart", std::filesystem::perms::owner_read |
                                                       std::filesystem::perms::owner_exec);
  XdgAutostartLoginItem item = itemIn(home / "autostart");
  EXPECT_FALSE(item.registerItem().success);
  std::filesystem::permissions(home / "autostart", std::filesystem::perms::owner_all);
}

TEST(AutostartChanges, AnEntryThatCannotBeRemovedIsRefused) {
  TemporaryFolder home;
  XdgAutostartLoginItem item = itemIn(home / "autostart");
  writeFile(item.entryPath() / "inside", "x");
  const LoginItemOutcome outcome = item.unregisterItem();
  EXPECT_FALSE(outcome.success);
  EXPECT_FALSE(outcome.errorText.empty());
}

TEST(AutostartChanges, UnknownProgramPathIsRefused) {
  TemporaryFolder home;
  XdgAutostartLoginItem item = itemIn(home / "autostart", "");
  EXPECT_FALSE(item.registerItem().success);
  EXPECT_FALSE(std::filesystem::exists(item.entryPath()));
}
