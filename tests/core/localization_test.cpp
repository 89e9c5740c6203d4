#include "core/localization.h"

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/support/temporary_folder.h"
#include "tests/support/environment_variable.h"

namespace {

void writeFile(const std::filesystem::path& path, const std::string& contents) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream stream(path, std::ios::binary | std::ios::trunc);
  stream << contents;
}

class LocalizerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    writeFile(folder_ / "en.json", R"({
      "greeting": "Hello",
      "only.english": "English only",
      "volume": "Eject “{}”",
      "count": "{} volumes",
      "pair": "{} and {}",
      "percent": "100% sure about {}",
      "broken": "Broken {",
      "too.many": "{} and {} and {}",
      "wrong.type": "{:d} items"
    })");
    writeFile(folder_ / "fr.json", R"({
      "greeting": "Bonjour",
      "volume": "Éjecter « {} »",
      "pair": "{1} puis {0}"
    })");
  }

  Localizer french() const { return Localizer({folder_.path()}, {"fr"}); }

  TemporaryFolder folder_;
};

// --- Lookup ----------------------------------------------------------------------------------

TEST_F(LocalizerTest, KeyInTheUsersLanguageGivesItsText) {
  EXPECT_EQ(french().lookup("greeting"), "Bonjour");
}

TEST_F(LocalizerTest, KeyMissingInTheUsersLanguageFallsBackToEnglish) {
  EXPECT_EQ(french().lookup("only.english"), "English only");
}

TEST_F(LocalizerTest, KeyMissingEverywhereGivesTheKeyItself) {
  EXPECT_EQ(french().lookup("no.such.key"), "no.such.key");
  EXPECT_EQ(french().format("no.such.key", 3, "name"), "no.such.key");
}

TEST_F(LocalizerTest, WithoutAnEnglishTableAMissingKeyGivesTheKeyItself) {
  std::filesystem::remove(folder_ / "en.json");
  const Localizer localizer({folder_.path()}, {"fr"});
  EXPECT_EQ(localizer.lookup("greeting"), "Bonjour");
  EXPECT_EQ(localizer.lookup("only.english"), "only.english");
}

TEST_F(LocalizerTest, NoTablesAtAllGiveTheKeys) {
  TemporaryFolder empty;
  const Localizer localizer({empty.path(), empty / "missing"}, {"fr"});
  EXPECT_EQ(localizer.lookup("greeting"), "greeting");
}

TEST_F(LocalizerTest, LanguagesAreTriedInOrder) {
  writeFile(folder_ / "de.json", R"({"greeting": "Hallo"})");
  EXPECT_EQ(Localizer({folder_.path()}, {"de", "fr"}).lookup("greeting"), "Hallo");
  EXPECT_EQ(Localizer({folder_.path()}, {"it", "fr"}).lookup("greeting"), "Bonjour");
  EXPECT_EQ(Localizer({folder_.path()}, {"it"}).lookup("greeting"), "Hello");
}

TEST_F(LocalizerTest, TheFirstFolderHoldingTablesSuppliesThemAll) {
  TemporaryFolder empty;
  TemporaryFolder later;
  writeFile(later / "fr.json", R"({"only.english": "pas de repli"})");
  const Localizer localizer({empty.path(), folder_.path(), later.path()}, {"fr"});
  EXPECT_EQ(localizer.lookup("greeting"), "Bonjour");
  EXPECT_EQ(localizer.lookup("only.english"), "English only");
}

TEST_F(LocalizerTest, MalformedTableIsIgnored) {
  writeFile(folder_ / "fr.json", R"({"greeting": "Bonjour", )");
  EXPECT_EQ(french().lookup("greeting"), "Hello");
}

TEST_F(LocalizerTest, TableThatIsNotAnObjectIsIgnored) {
  writeFile(folder_ / "fr.json", R"(["greeting", "Bonjour"])");
  EXPECT_EQ(french().lookup("greeting"), "Hello");
}

TEST_F(LocalizerTest, EntriesThatAreNotTextsFallBack) {
  writeFile(folder_ / "fr.json", R"({"greeting": 12, "volume": null, "count": {"a": "b"},
                                     "pair": ["x"]})");
  const Localizer localizer = french();
  EXPECT_EQ(localizer.lookup("greeting"), "Hello");
  EXPECT_EQ(localizer.lookup("volume"), "Eject “{}”");
  EXPECT_EQ(localizer.lookup("count"), "{} volumes");
}

TEST_F(LocalizerTest, UnreadableTableFileIsIgnored) {
  std::filesystem::remove(folder_ / "fr.json");
  std::filesystem::create_directory(folder_ / "fr.json");
  EXPECT_EQ(french().lookup("greeting"), "Hello");
}

// --- Formatting ------------------------------------------------------------------------------

TEST_F(LocalizerTest, FormatsIntegersAndTexts) {
  const Localizer english({folder_.path()}, {"en"});
  EXPECT_EQ(english.format("count", std::int64_t{3}), "3 volumes");
  EXPECT_EQ(english.format("count", 12), "12 volumes");
  EXPECT_EQ(english.format("volume", std::string("Backup")), "Eject “Backup”");
  EXPECT_EQ(english.format("volume", "Literal"), "Eject “Literal”");
}

TEST_F(LocalizerTest, ArgumentsAreNeverReadAsFormats) {
  const Localizer english({folder_.path()}, {"en"});
  EXPECT_EQ(english.format("volume", "100% {x}"), "Eject “100% {x}”");
  EXPECT_EQ(english.format("volume", "{} {0} {:>9} %s %n"), "Eject “{} {0} {:>9} %s %n”");
  EXPECT_EQ(english.format("percent", "%d"), "100% sure about %d");
}

TEST_F(LocalizerTest, PositionalPlaceholdersReorderArguments) {
  EXPECT_EQ(french().format("pair", "un", "deux"), "deux puis un");
}

TEST_F(LocalizerTest, MalformedFormatGivesTheTextUnformatted) {
  const Localizer english({folder_.path()}, {"en"});
  EXPECT_EQ(english.format("broken", "x"), "Broken {");
  EXPECT_EQ(english.format("too.many", "a"), "{} and {} and {}");
  EXPECT_EQ(english.format("wrong.type", "text"), "{:d} items");
}

TEST_F(LocalizerTest, ExtraArgumentsAreIgnored) {
  const Localizer english({folder_.path()}, {"en"});
  EXPECT_EQ(english.format("greeting", "unused", 4), "Hello");
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

TEST_F(LanguageEnvironmentTest, NothingSetGivesNoLanguage) {
  EXPECT_EQ(Localizer::languagesFromEnvironment(), Languages{});
}

TEST_F(LanguageEnvironmentTest, LocaleNameGivesTheRegionalThenTheBareLanguage) {
  ::setenv("LANG", "fr_FR.UTF-8", 1);
  EXPECT_EQ(Localizer::languagesFromEnvironment(), (Languages{"fr_FR", "fr"}));
  ::setenv("LANG", "de_DE@euro", 1);
  EXPECT_EQ(Localizer::languagesFromEnvironment(), (Languages{"de_DE", "de"}));
}

TEST_F(LanguageEnvironmentTest, CAndPosixMeanEnglish) {
  ::setenv("LANG", "C", 1);
  EXPECT_EQ(Localizer::languagesFromEnvironment(), Languages{"en"});
  ::setenv("LANG", "POSIX", 1);
  EXPECT_EQ(Localizer::languagesFromEnvironment(), Languages{"en"});
  ::setenv("LANG", "C.UTF-8", 1);
  EXPECT_EQ(Localizer::languagesFromEnvironment(), Languages{"en"});
}

TEST_F(LanguageEnvironmentTest, LcAllWinsOverLcMessagesWhichWinsOverLang) {
  ::setenv("LANG", "de_DE.UTF-8", 1);
  ::setenv("LC_MESSAGES", "fr_CA.UTF-8", 1);
  EXPECT_EQ(Localizer::languagesFromEnvironment(), (Languages{"fr_CA", "fr"}));
  ::setenv("LC_ALL", "it_IT.UTF-8", 1);
  EXPECT_EQ(Localizer::languagesFromEnvironment(), (Languages{"it_IT", "it"}));
}

TEST_F(LanguageEnvironmentTest, EmptyVariablesAreSkipped) {
  ::setenv("LC_ALL", "", 1);
  ::setenv("LANGUAGE", "", 1);
  ::setenv("LANG", "fr_FR.UTF-8", 1);
  EXPECT_EQ(Localizer::languagesFromEnvironment(), (Languages{"fr_FR", "fr"}));
}

TEST_F(LanguageEnvironmentTest, LanguageListComesFirstInItsOrder) {
  ::setenv("LANGUAGE", "fr_BE:nl::de", 1);
  ::setenv("LANG", "en_GB.UTF-8", 1);
  EXPECT_EQ(Localizer::languagesFromEnvironment(),
            (Languages{"fr_BE", "fr", "nl", "de", "en_GB", "en"}));
}

TEST_F(LanguageEnvironmentTest, RepeatedLanguagesAppearOnce) {
  ::setenv("LANGUAGE", "fr_FR:fr", 1);
  ::setenv("LANG", "fr_FR.UTF-8", 1);
  EXPECT_EQ(Localizer::languagesFromEnvironment(), (Languages{"fr_FR", "fr"}));
}

TEST_F(LanguageEnvironmentTest, RegionalLocaleFindsTheBareLanguageTable) {
  TemporaryFolder folder;
  writeFile(folder / "en.json", R"({"greeting": "Hello"})");
  writeFile(folder / "fr.json", R"({"greeting": "Bonjour"})");
  ::setenv("LANG", "fr_CH.UTF-8", 1);
  EXPECT_EQ(Localizer({folder.path()}, Localizer::languagesFromEnvironment()).lookup("greeting"),
            "Bonjour");
}

// --- The program's own tables ----------------------------------------------------------------

// Every key the program looks up, with the number of arguments its text takes.
const std::vector<std::pair<std::string, int>>& programKeys() {
  static const std::vector<std::pair<std::string, int>> keys{
      {"about.developed_by", 0},
      {"about.version_label", 1},
      {"accessibility.back", 0},
      {"accessibility.messages", 0},
      {"accessibility.status_icon", 0},
      {"app.name", 0},
      {"common.cancel", 0},
      {"common.send", 0},
      {"common.send_failed_title", 0},
      {"edit.undo", 0},
      {"edit.redo", 0},
      {"edit.cut", 0},
      {"edit.copy", 0},
      {"edit.paste", 0},
      {"edit.select_all", 0},
      {"eject.all_button_tooltip", 0},
      {"eject.all_menu_item", 0},
      {"eject.backup_running_message", 1},
      {"eject.backup_running_title", 0},
      {"eject.count_disks_one", 1},
      {"eject.count_disks_other", 1},
      {"eject.count_images_one", 1},
      {"eject.count_images_other", 1},
      {"eject.failure_title", 1},
      {"eject.icon_accessibility", 0},
      {"eject.images_mounted_one", 1},
      {"eject.images_mounted_other", 1},
      {"eject.mixed_connected", 2},
      {"eject.no_volumes", 0},
      {"eject.nothing_to_eject_message", 0},
      {"eject.nothing_to_eject_title", 0},
      {"eject.only_time_machine_message", 0},
      {"eject.retained_message", 0},
      {"eject.time_machine_badge", 0},
      {"eject.time_machine_confirm_button", 0},
      {"eject.time_machine_confirm_message", 0},
      {"eject.time_machine_confirm_title", 1},
      {"eject.volume_action", 1},
      {"eject.volumes_connected_one", 1},
      {"eject.volumes_connected_other", 1},
      {"home.subtitle", 0},
      {"menu.check_updates", 0},
      {"menu.close", 0},
      {"menu.edit", 0},
      {"menu.file", 0},
      {"menu.open_app", 0},
      {"menu.quit", 0},
      {"menu.report_problem", 0},
      {"messages.acknowledge_button", 0},
      {"messages.banner_title", 0},
      {"messages.empty", 0},
      {"messages.hint", 0},
      {"messages.reply_placeholder", 0},
      {"messages.send_failed_message", 0},
      {"messages.varnelo_labs_prefix", 0},
      {"messages.window_title", 0},
      {"messages.you_prefix", 0},
      {"onboarding.dock_button", 0},
      {"onboarding.menubar_button", 0},
      {"onboarding.welcome_message", 0},
      {"onboarding.welcome_title", 0},
      {"report.email_placeholder", 0},
      {"report.failed_message", 0},
      {"report.message", 0},
      {"report.sent_message", 0},
      {"report.sent_title", 0},
      {"report.title", 0},
      {"settings.auto_update", 0},
      {"settings.color_amber", 0},
      {"settings.color_blue", 0},
      {"settings.color_green", 0},
      {"settings.color_mauve", 0},
      {"settings.color_red", 0},
      {"settings.color_system", 0},
      {"settings.color_when_mounted", 0},
      {"settings.eject_disk_images", 0},
      {"settings.launch_at_login", 0},
      {"settings.menu_bar_icon", 0},
      {"settings.protect_time_machine", 0},
      {"settings.title", 0},
  };
  return keys;
}

const std::filesystem::path& sourceTables() {
  static const std::filesystem::path folder =
      std::filesystem::path(VARNELO_TEST_FIXTURES) / ".." / ".." / "resources" / "l10n";
  return folder;
}

nlohmann::json readJson(const std::filesystem::path& file) {
  std::ifstream stream(file);
  std::stringstream contents;
  contents << stream.rdbuf();
  return nlohmann::json::parse(contents.str(), nullptr, /*allow_exceptions=*/false);
}

class ProgramTablesTest : public ::testing::TestWithParam<std::string> {};

TEST_P(ProgramTablesTest, HoldsANonEmptyTextForEveryKey) {
  const auto table = readJson(sourceTables() / (GetParam() + ".json"));
  ASSERT_TRUE(table.is_object()) << "the table must be one JSON object";
  for (const auto& [key, arguments] : programKeys()) {
    ASSERT_TRUE(table.contains(key)) << key;
    ASSERT_TRUE(table[key].is_string()) << key;
    EXPECT_FALSE(table[key].get<std::string>().empty()) << key;
  }
  for (const auto& [key, value] : table.items()) {
    EXPECT_TRUE(value.is_string()) << key;
  }
}

TEST_P(ProgramTablesTest, EveryTextTakesExactlyItsArguments) {
  const Localizer localizer({sourceTables()}, {GetParam()});
  for (const auto& [key, arguments] : programKeys()) {
    const std::string text = localizer.lookup(key);
    std::string formatted;
    if (arguments == 0) {
      formatted = localizer.format(key);
      EXPECT_EQ(text.find('{'), std::string::npos) << key << " takes no argument";
    } else if (arguments == 1) {
      formatted = localizer.format(key, "<FIRST>");
      EXPECT_NE(formatted.find("<FIRST>"), std::string::npos) << key;
      // Counts are 64-bit integers: the placeholder must take one.
      EXPECT_NE(localizer.format(key, std::int64_t{7}).find('7'), std::string::npos) << key;
    } else {
      formatted = localizer.format(key, "<FIRST>", "<SECOND>");
      EXPECT_NE(formatted.find("<FIRST>"), std::string::npos) << key;
      EXPECT_NE(formatted.find("<SECOND>"), std::string::npos) << key;
    }
    EXPECT_EQ(formatted.find('{'), std::string::npos) << key << ": " << formatted;
  }
}

TEST_P(ProgramTablesTest, HeaderPrefixesEndWithTheirSeparator) {
  const Localizer localizer({sourceTables()}, {GetParam()});
  for (const char* key : {"messages.you_prefix", "messages.varnelo_labs_prefix"}) {
    const std::string text = localizer.lookup(key);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), ' ') << key << " must end with its separator";
  }
}

INSTANTIATE_TEST_SUITE_P(Languages, ProgramTablesTest, ::testing::Values("en", "fr"));

TEST(ProgramTables, FrenchIsATranslationNotACopy) {
  const auto english = readJson(sourceTables() / "en.json");
  const auto french = readJson(sourceTables() / "fr.json");
  ASSERT_TRUE(english.is_object() && french.is_object());
  EXPECT_NE(english["eject.retained_message"], french["eject.retained_message"]);
  EXPECT_NE(english["common.cancel"], french["common.cancel"]);
  std::set<std::string> englishKeys;
  std::set<std::string> frenchKeys;
  for (const auto& [key, value] : english.items()) {
    englishKeys.insert(key);
  }
  for (const auto& [key, value] : french.items()) {
    frenchKeys.insert(key);
  }
  EXPECT_EQ(englishKeys, frenchKeys) << "both languages hold the same keys";
}

TEST(ProgramTables, TheProcessFindsTheTablesBesideTheExecutable) {
  // The build copies the tables next to the executables; the test environment asks for English.
  EXPECT_NE(L("app.name"), "app.name");
  EXPECT_EQ(L("no.such.key.anywhere", 1, "x"), "no.such.key.anywhere");
}

} // namespace
