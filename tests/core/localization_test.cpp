#include "core/localization.h"

#include <cstdint>
#include <set>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/core/test_files.h"
#include "tests/support/environment_variable.h"
#include "tests/support/temporary_folder.h"

namespace {

class LocalizerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    writeFile(folder_ / "en.json",
              R"({"greeting": "Hello", "only.english": "English only", "volume": "Eject “{}”",
                  "count": "{} volumes", "pair": "{} and {}", "percent": "100% sure about {}",
                  "broken": "Broken {", "too.many": "{} and {} and {}",
                  "wrong.type": "{:d} items"})");
    writeFile(folder_ / "fr.json",
              R"({"greeting": "Bonjour", "volume": "Éjecter « {} »", "pair": "{1} puis {0}"})");
  }

  Localizer french() const { return Localizer({folder_.path()}, {"fr"}); }
  Localizer english() const { return Localizer({folder_.path()}, {"en"}); }

  TemporaryFolder folder_;
};

// --- Lookup ----------------------------------------------------------------------------------

TEST_F(LocalizerTest, LookupFallsBackFromTheUsersLanguageToEnglishToTheKeyItself) {
  EXPECT_EQ(french().lookup("greeting"), "Bonjour");
  EXPECT_EQ(french().lookup("only.english"), "English only");
  EXPECT_EQ(french().lookup("no.such.key"), "no.such.key");
  EXPECT_EQ(french().format("no.such.key", 3, "name"), "no.such.key");

  std::filesystem::remove(folder_ / "en.json");
  EXPECT_EQ(french().lookup("greeting"), "Bonjour");
  EXPECT_EQ(french().lookup("only.english"), "only.english");
  TemporaryFolder empty;
  EXPECT_EQ(Localizer({empty.path(), empty / "missing"}, {"fr"}).lookup("greeting"), "greeting");
}

TEST_F(LocalizerTest, LanguagesAreTriedInOrderInTheFirstFolderHoldingTables) {
  writeFile(folder_ / "de.json", R"({"greeting": "Hallo"})");
  EXPECT_EQ(Localizer({folder_.path()}, {"de", "fr"}).lookup("greeting"), "Hallo");
  EXPECT_EQ(Localizer({folder_.path()}, {"it", "fr"}).lookup("greeting"), "Bonjour");
  EXPECT_EQ(Localizer({folder_.path()}, {"it"}).lookup("greeting"), "Hello");
  TemporaryFolder empty;
  TemporaryFolder later;
  writeFile(later / "fr.json", R"({"only.english": "pas de repli"})");
  const Localizer localizer({empty.path(), folder_.path(), later.path()}, {"fr"});
  EXPECT_EQ(localizer.lookup("greeting"), "Bonjour");
  EXPECT_EQ(localizer.lookup("only.english"), "English only");
}

TEST_F(LocalizerTest, MalformedUnreadableOrNonObjectTablesAndNonTextEntriesFallBack) {
  writeFile(folder_ / "fr.json", R"({"greeting": 12, "volume": null, "count": {"a": "b"},
                                     "pair": ["x"]})");
  EXPECT_EQ(french().lookup("greeting"), "Hello");
  EXPECT_EQ(french().lookup("volume"), "Eject “{}”");
  EXPECT_EQ(french().lookup("count"), "{} volumes");
  EXPECT_EQ(french().lookup("pair"), "{} and {}");
  for (const char* table : {R"({"greeting": "Bonjour", )", R"(["greeting", "Bonjour"])"}) {
    writeFile(folder_ / "fr.json", table);
    EXPECT_EQ(french().lookup("greeting"), "Hello") << table;
  }
  std::filesystem::remove(folder_ / "fr.json");
  std::filesystem::create_directory(folder_ / "fr.json");
  EXPECT_EQ(french().lookup("greeting"), "Hello");
}

// --- Formatting ------------------------------------------------------------------------------

TEST_F(LocalizerTest, FormatsArgumentsInTheirPlacesNeverAsFormatsAndLeavesBadFormatsAlone) {
  EXPECT_EQ(english().format("count", std::int64_t{3}), "3 volumes");
  EXPECT_EQ(english().format("count", 12), "12 volumes");
  EXPECT_EQ(english().format("volume", std::string("Backup")), "Eject “Backup”");
  EXPECT_EQ(english().format("volume", "Literal"), "Eject “Literal”");
  EXPECT_EQ(english().format("greeting", "unused", 4), "Hello");
  EXPECT_EQ(french().format("pair", "un", "deux"), "deux puis un");
  EXPECT_EQ(english().format("volume", "100% {x}"), "Eject “100% {x}”");
  EXPECT_EQ(english().format("volume", "{} {0} {:>9} %s %n"), "Eject “{} {0} {:>9} %s %n”");
  EXPECT_EQ(english().format("percent", "%d"), "100% sure about %d");
  EXPECT_EQ(english().format("broken", "x"), "Broken {");
  EXPECT_EQ(english().format("too.many", "a"), "{} and {} and {}");
  EXPECT_EQ(english().format("wrong.type", "text"), "{:d} items");
}

// --- Languages from the environment ----------------------------------------------------------

class LanguageEnvironmentTest : public ::testing::Test {
 protected:
  EnvironmentVariable language_{"LANGUAGE", nullptr};
  EnvironmentVariable all_{"LC_ALL", nullptr};
  EnvironmentVariable messages_{"LC_MESSAGES", nullptr};
  EnvironmentVariable lang_{"LANG", nullptr};
};

using Languages = std::vector<std::string>;

TEST_F(LanguageEnvironmentTest, LocaleNamesGiveTheRegionalThenTheBareLanguageWhoseTableIsFound) {
  EXPECT_EQ(Localizer::languagesFromEnvironment(), Languages{}) << "nothing set";
  const std::pair<const char*, Languages> cases[] = {{"fr_FR.UTF-8", {"fr_FR", "fr"}},
                                                     {"de_DE@euro", {"de_DE", "de"}},
                                                     {"C", {"en"}},
                                                     {"POSIX", {"en"}},
                                                     {"C.UTF-8", {"en"}}};
  for (const auto& [lang, expected] : cases) {
    ::setenv("LANG", lang, 1);
    EXPECT_EQ(Localizer::languagesFromEnvironment(), expected) << lang;
  }
  TemporaryFolder folder;
  writeFile(folder / "en.json", R"({"greeting": "Hello"})");
  writeFile(folder / "fr.json", R"({"greeting": "Bonjour"})");
  ::setenv("LANG", "fr_CH.UTF-8", 1);
  EXPECT_EQ(Localizer({folder.path()}, Localizer::languagesFromEnvironment()).lookup("greeting"),
            "Bonjour");
}

TEST_F(LanguageEnvironmentTest, LanguageListThenLcAllThenLcMessagesThenLangWithoutRepeats) {
  ::setenv("LANG", "de_DE.UTF-8", 1);
  ::setenv("LC_MESSAGES", "fr_CA.UTF-8", 1);
  EXPECT_EQ(Localizer::languagesFromEnvironment(), (Languages{"fr_CA", "fr"}));
  ::setenv("LC_ALL", "it_IT.UTF-8", 1);
  EXPECT_EQ(Localizer::languagesFromEnvironment(), (Languages{"it_IT", "it"}));
  ::setenv("LC_ALL", "", 1);
  ::setenv("LANGUAGE", "", 1);
  ::unsetenv("LC_MESSAGES");
  EXPECT_EQ(Localizer::languagesFromEnvironment(), (Languages{"de_DE", "de"}));
  ::setenv("LANGUAGE", "fr_BE:nl::de", 1);
  ::setenv("LANG", "en_GB.UTF-8", 1);
  EXPECT_EQ(Localizer::languagesFromEnvironment(),
            (Languages{"fr_BE", "fr", "nl", "de", "en_GB", "en"}));
  ::setenv("LANGUAGE", "fr_FR:fr", 1);
  ::setenv("LANG", "fr_FR.UTF-8", 1);
  EXPECT_EQ(Localizer::languagesFromEnvironment(), (Languages{"fr_FR", "fr"}));
}

// --- The program's own tables ----------------------------------------------------------------

// Every key the program looks up, by the number of arguments its text takes.
const std::vector<std::vector<std::string>>& programKeys() {
  static const std::vector<std::vector<std::string>> keys = [] {
    const char* lists[] = {
        "about.developed_by accessibility.back accessibility.messages accessibility.status_icon "
        "app.name common.cancel common.send common.send_failed_title edit.undo edit.redo "
        "edit.cut edit.copy edit.paste edit.select_all eject.all_button_tooltip "
        "eject.all_menu_item eject.backup_running_title eject.icon_accessibility "
        "eject.no_volumes eject.nothing_to_eject_message eject.nothing_to_eject_title "
        "eject.only_time_machine_message eject.retained_message eject.time_machine_badge "
        "eject.time_machine_confirm_button eject.time_machine_confirm_message home.subtitle "
        "menu.check_updates menu.close menu.edit menu.file menu.open_app menu.quit "
        "menu.report_problem messages.acknowledge_button messages.banner_title messages.empty "
        "messages.hint messages.reply_placeholder messages.send_failed_message "
        "messages.varnelo_labs_prefix messages.window_title messages.you_prefix "
        "onboarding.dock_button onboarding.menubar_button onboarding.welcome_message "
        "onboarding.welcome_title report.email_placeholder report.failed_message report.message "
        "report.sent_message report.sent_title report.title settings.auto_update "
        "settings.color_amber settings.color_blue settings.color_green settings.color_mauve "
        "settings.color_red settings.color_system settings.color_when_mounted "
        "settings.eject_disk_images settings.launch_at_login settings.menu_bar_icon "
        "settings.protect_time_machine settings.title ",
        "about.version_label eject.backup_running_message eject.count_disks_one "
        "eject.count_disks_other eject.count_images_one eject.count_images_other "
        "eject.failure_title eject.images_mounted_one eject.images_mounted_other "
        "eject.time_machine_confirm_title eject.volume_action eject.volumes_connected_one "
        "eject.volumes_connected_other ",
        "eject.mixed_connected "};
    std::vector<std::vector<std::string>> split;
    for (const char* list : lists) {
      std::istringstream words(list);
      split.emplace_back(std::istream_iterator<std::string>(words),
                         std::istream_iterator<std::string>());
    }
    return split;
  }();
  return keys;
}

const std::filesystem::path sourceTables =
    std::filesystem::path(VARNELO_TEST_FIXTURES) / ".." / ".." / "resources" / "l10n";

nlohmann::json readJson(const std::filesystem::path& file) {
  return nlohmann::json::parse(readFile(file), nullptr, /*allow_exceptions=*/false);
}

class ProgramTablesTest : public ::testing::TestWithParam<std::string> {};

TEST_P(ProgramTablesTest, HoldsOnlyTextsAndForEveryKeyOneTakingExactlyItsArguments) {
  const auto table = readJson(sourceTables / (GetParam() + ".json"));
  ASSERT_TRUE(table.is_object()) << "the table must be one JSON object";
  for (const auto& [key, value] : table.items()) {
    EXPECT_TRUE(value.is_string()) << key;
  }
  const Localizer localizer({sourceTables}, {GetParam()});
  for (std::size_t arguments = 0; arguments < programKeys().size(); ++arguments) {
    for (const auto& key : programKeys()[arguments]) {
      ASSERT_TRUE(table.contains(key) && table[key].is_string()) << key;
      EXPECT_FALSE(table[key].get<std::string>().empty()) << key;
      std::string formatted;
      if (arguments == 0) {
        formatted = localizer.format(key);
        EXPECT_EQ(localizer.lookup(key).find('{'), std::string::npos) << key << " takes none";
      } else if (arguments == 1) {
        formatted = localizer.format(key, "<FIRST>");
        // Counts are 64-bit integers: the placeholder must take one.
        EXPECT_NE(localizer.format(key, std::int64_t{7}).find('7'), std::string::npos) << key;
      } else {
        formatted = localizer.format(key, "<FIRST>", "<SECOND>");
        EXPECT_NE(formatted.find("<SECOND>"), std::string::npos) << key;
      }
      if (arguments > 0) {
        EXPECT_NE(formatted.find("<FIRST>"), std::string::npos) << key;
      }
      EXPECT_EQ(formatted.find('{'), std::string::npos) << key << ": " << formatted;
    }
  }
  for (const char* key : {"messages.you_prefix", "messages.varnelo_labs_prefix"}) {
    const std::string text = localizer.lookup(key);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), ' ') << key << " must end with its separator";
  }
}

INSTANTIATE_TEST_SUITE_P(Languages, ProgramTablesTest, ::testing::Values("en", "fr"));

TEST(ProgramTables, FrenchIsATranslationOfTheSameKeysNotACopy) {
  const auto english = readJson(sourceTables / "en.json");
  const auto french = readJson(sourceTables / "fr.json");
  ASSERT_TRUE(english.is_object() && french.is_object());
  EXPECT_NE(english["eject.retained_message"], french["eject.retained_message"]);
  EXPECT_NE(english["common.cancel"], french["common.cancel"]);
  EXPECT_EQ(keysOf(english), keysOf(french)) << "both languages hold the same keys";
}

TEST(ProgramTables, TheProcessFindsTheTablesBesideTheExecutable) {
  // The build copies the tables next to the executables; the test environment asks for English.
  EXPECT_NE(L("app.name"), "app.name");
  EXPECT_EQ(L("no.such.key.anywhere", 1, "x"), "no.such.key.anywhere");
}

} // namespace
