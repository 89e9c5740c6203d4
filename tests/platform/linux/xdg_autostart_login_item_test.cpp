#include "platform/linux/xdg_autostart_login_item.h"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "tests/core/test_files.h"
#include "tests/support/environment_variable.h"
#include "tests/support/run_command.h"
#include "tests/support/temporary_folder.h"

namespace {

namespace fs = std::filesystem;

XdgAutostartLoginItem itemIn(const fs::path& folder, std::string executable = "/usr/bin/x") {
  return XdgAutostartLoginItem(folder, {"VarneloEject", std::move(executable), "varnelo-eject"});
}

TEST(Autostart, FolderFollowsAnAbsoluteConfigHomeAndProgramPathsAreQuotedForExec) {
  const auto folderFor = [](std::optional<std::string> config, std::optional<std::string> home) {
    return XdgAutostartLoginItem::standardFolder([&](const std::string& name) {
      return name == "XDG_CONFIG_HOME" ? config : name == "HOME" ? home : std::nullopt;
    });
  };
  EXPECT_EQ(folderFor("/tmp/conf", "/home/ann"), "/tmp/conf/autostart");
  EXPECT_EQ(folderFor("", "/home/ann"), "/home/ann/.config/autostart");
  EXPECT_EQ(folderFor("conf", "/home/ann"), "/home/ann/.config/autostart");
  const fs::path withoutHome = folderFor(std::nullopt, std::nullopt);
  EXPECT_TRUE(withoutHome.is_absolute() && withoutHome.filename() == "autostart");
  // Inside quotes $ becomes \$, and the string value then doubles every backslash.
  const std::pair<const char*, const char*> arguments[] = {
      {"/usr/bin/varnelo-eject", "/usr/bin/varnelo-eject"},
      {"/opt/My Apps/eject", "\"/opt/My Apps/eject\""},
      {"/opt/a$b/eject", "\"/opt/a\\\\$b/eject\""},
      {"/opt/a\"b", "\"/opt/a\\\\\"b\""},
      {"/opt/100%/eject", "/opt/100%%/eject"}};
  for (const auto& [path, expected] : arguments) {
    EXPECT_EQ(XdgAutostartLoginItem::execArgument(path), expected);
  }
}

TEST(Autostart, StatusReadsOnlyTheMainGroupAndRegisteringWritesAnEnabledEntry) {
  TemporaryFolder home;
  XdgAutostartLoginItem item = itemIn(home / "config" / "autostart");
  EXPECT_EQ(item.status(), LoginItemStatus::notRegistered);
  const std::pair<const char*, LoginItemStatus> entries[] = {
      {"[Desktop Entry]\nExec=/x\nHidden = True\n", LoginItemStatus::disabled},
      {"[Desktop Entry]\nExec=/x\nX-GNOME-Autostart-enabled=false\n", LoginItemStatus::disabled},
      {"# Hidden=true\n[Desktop Entry]\nExec=/x\nHidden=false\n[Desktop Action A]\nHidden=true\n",
       LoginItemStatus::enabled}};
  for (const auto& [text, expected] : entries) {
    writeFile(item.entryPath(), text);
    EXPECT_EQ(item.status(), expected) << text;
  }
  ASSERT_TRUE(item.registerItem().success) << "turns a disabled entry back on";
  const std::string text = readFile(item.entryPath());
  EXPECT_EQ(item.status(), LoginItemStatus::enabled);
  for (const char* line : {"[Desktop Entry]\n", "\nType=Application\n", "\nExec=/usr/bin/x\n",
                           "\nIcon=varnelo-eject\n", "\nX-GNOME-Autostart-enabled=true\n"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line;
  }
  EXPECT_NE(fs::status(item.entryPath()).permissions() & fs::perms::others_read, fs::perms::none);
  EXPECT_EQ(std::distance(fs::directory_iterator(item.entryPath().parent_path()), {}), 1)
      << "no temporary file is left beside it";
  EXPECT_TRUE(item.unregisterItem().success && item.unregisterItem().success);
  EXPECT_EQ(item.status(), LoginItemStatus::notRegistered);
}

TEST(Autostart, ChangesThatCannotBeMadeAreRefusedWithTheirReason) {
  TemporaryFolder home;
  writeFile(home / "file" / "autostart", "not a folder");
  const LoginItemOutcome blocked = itemIn(home / "file" / "autostart").registerItem();
  EXPECT_FALSE(blocked.success);
  EXPECT_NE(blocked.errorText.find((home / "file" / "autostart").string()), std::string::npos);
  EXPECT_FALSE(itemIn(home / "unknown", "").registerItem().success) << "no program path";
  EXPECT_FALSE(fs::exists(home / "unknown" / XdgAutostartLoginItem::entryFileName));
  // A folder where the entry goes: neither written over nor removed, and still not an entry.
  writeFile(home / "folder" / XdgAutostartLoginItem::entryFileName / "inside", "x");
  XdgAutostartLoginItem inTheWay = itemIn(home / "folder");
  for (const LoginItemOutcome& outcome : {inTheWay.registerItem(), inTheWay.unregisterItem()}) {
    EXPECT_TRUE(!outcome.success && !outcome.errorText.empty()) << outcome.errorText;
  }
  EXPECT_EQ(inTheWay.status(), LoginItemStatus::disabled);
  fs::create_directories(home / "readonly" / "autostart");
  fs::permissions(home / "readonly" / "autostart", fs::perms::owner_read | fs::perms::owner_exec);
  EXPECT_TRUE(home.passesAsUnprivilegedUser([&] {
    XdgAutostartLoginItem item = itemIn(home / "readonly" / "autostart");
    return !item.registerItem().success && item.status() == LoginItemStatus::notRegistered;
  }));
}

// A copy of this test replaces its own file as an upgrade does: no " (deleted)" in the path.
TEST(Autostart, RunningExecutableIsThisProgramEvenAfterAnUpgradeReplacedItsFile) {
  if (const char* self = std::getenv("VARNELO_TEST_REPLACE_OWN_FILE")) {
    writeFile(std::string(self) + ".new", "the next version");
    fs::rename(std::string(self) + ".new", self);
    writeFile(std::string(self) + ".answer", XdgAutostartLoginItem::runningExecutable());
    return;
  }
  EXPECT_EQ(XdgAutostartLoginItem::runningExecutable(), fs::read_symlink("/proc/self/exe"));
  TemporaryFolder folder;
  const fs::path copy = folder / "varnelo eject";
  fs::copy_file("/proc/self/exe", copy);
  ::chmod(copy.c_str(), 0755);
  EnvironmentVariable replace("VARNELO_TEST_REPLACE_OWN_FILE", copy.c_str());
  const auto run = test_support::runCommand(
      {copy.string(), "--gtest_filter=Autostart.RunningExecutableIsThisProgram*"});
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(readFile(copy.string() + ".answer"), copy.string());
}

} // namespace
