#include "core/localization.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "core/byte_count_format.h"
#include "core/eject_engine.h"
#include "core/utf8_text.h"
#include "tests/core/eject_engine_rig.h"
#include "tests/core/test_files.h"
#include "tests/support/environment_variable.h"
#include "tests/support/temporary_folder.h"

namespace {

using Languages = std::vector<std::string>;

TEST(Localizer, LanguagesInOrderThenEnglishThenTheKeyAndArgumentsNeverReadAsFormats) {
  TemporaryFolder empty, folder, later;
  writeFile(folder / "en.json", R"({"greeting": "Hello", "only.english": "English only",
      "volume": "Eject “{}”", "count": "{} volumes", "percent": "100% sure about {}",
      "broken": "Broken {", "too.many": "{} and {} and {}", "typed": "{:d} items"})");
  writeFile(folder / "fr.json", R"({"greeting": "Bonjour", "pair": "{1} puis {0}",
                                    "count": 12, "volume": null})");
  writeFile(folder / "de.json", R"({"greeting": "Hallo", )"); // malformed
  writeFile(folder / "nl.json", R"(["greeting", "Hallo"])");  // not an object
  writeFile(later / "it.json", R"({"greeting": "Ciao"})");    // only the first folder counts
  const auto in = [&](Languages languages) {
    return Localizer({empty.path(), folder.path(), later.path()}, std::move(languages));
  };
  const std::tuple<Languages, const char*, const char*> rows[] = {
      {{"fr"}, "greeting", "Bonjour"},        {{"fr"}, "only.english", "English only"},
      {{"fr"}, "no.such.key", "no.such.key"}, {{"it", "fr"}, "greeting", "Bonjour"},
      {{"it"}, "greeting", "Hello"},          {{"de", "fr"}, "greeting", "Bonjour"},
      {{"nl", "fr"}, "greeting", "Bonjour"},  {{"fr"}, "count", "{} volumes"}};
  for (const auto& [languages, key, expected] : rows) {
    EXPECT_EQ(in(languages).lookup(key), expected) << languages.front() << " " << key;
  }
  const Localizer english = in({"en"});
  EXPECT_EQ(english.format("count", std::int64_t{3}), "3 volumes");
  EXPECT_EQ(english.format("volume", std::string("{} {0} {:>9} %s %n")),
            "Eject “{} {0} {:>9} %s %n”");
  EXPECT_EQ(english.format("greeting", "unused", 4), "Hello");
  EXPECT_EQ(english.format("percent", "%d"), "100% sure about %d");
  for (const char* bad : {"broken", "too.many", "typed"}) {
    EXPECT_EQ(english.format(bad, "x"), english.lookup(bad));
  }
  EXPECT_EQ(in({"fr"}).format("pair", "un", "deux"), "deux puis un");
  std::filesystem::remove(folder / "en.json");
  EXPECT_EQ(in({"fr"}).lookup("only.english"), "only.english");
  std::filesystem::remove(folder / "fr.json");
  std::filesystem::create_directory(folder / "fr.json");
  EXPECT_EQ(in({"fr"}).lookup("greeting"), "greeting");
}

TEST(LanguageEnvironment, LanguageListThenLcAllThenLcMessagesThenLangWithoutRepeats) {
  const std::pair<std::array<const char*, 4>, Languages> rows[] = {
      {{nullptr, nullptr, nullptr, nullptr}, {}},
      {{nullptr, nullptr, nullptr, "fr_FR.UTF-8"}, {"fr_FR", "fr"}},
      {{nullptr, nullptr, nullptr, "POSIX"}, {"en"}},
      {{nullptr, "C.UTF-8", nullptr, "fr_FR"}, {"en"}},
      {{nullptr, nullptr, "fr_CA.UTF-8", "de_DE.UTF-8"}, {"fr_CA", "fr"}},
      {{nullptr, "it_IT@euro", "fr_CA.UTF-8", "de_DE.UTF-8"}, {"it_IT", "it"}},
      {{"", "", nullptr, "de_DE.UTF-8"}, {"de_DE", "de"}},
      {{"fr_BE:nl::de", nullptr, nullptr, "en_GB.UTF-8"},
       {"fr_BE", "fr", "nl", "de", "en_GB", "en"}},
      {{"fr_FR:fr", nullptr, nullptr, "fr_FR.UTF-8"}, {"fr_FR", "fr"}}};
  for (const auto& [values, expected] : rows) {
    EnvironmentVariable language("LANGUAGE", values[0]), all("LC_ALL", values[1]),
        messages("LC_MESSAGES", values[2]), lang("LANG", values[3]);
    EXPECT_EQ(Localizer::languagesFromEnvironment(), expected) << testing::PrintToString(values);
  }
}

const std::filesystem::path sourceRoot = std::filesystem::path(VARNELO_TEST_FIXTURES) / ".." / "..";

// How many arguments a text takes: the tables never use one placeholder twice.
std::size_t argumentsOf(const std::string& text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '{'));
}

// Key-shaped literals of the tables' groups; comments and QStringLiteral names are skipped.
std::set<std::string> keysInSources(const std::set<std::string>& groups) {
  static const std::regex pattern(R"re(//.*|QStringLiteral\("[^"]*"|"(([a-z]+)\.[a-z_.]+)")re");
  std::set<std::string> keys;
  for (const char* folder : {"core", "platform", "views", "app", "cli"}) {
    for (const auto& entry : std::filesystem::recursive_directory_iterator(sourceRoot / folder)) {
      const std::string text = readFile(entry.path());
      for (std::sregex_iterator match(text.begin(), text.end(), pattern), end; match != end;
           ++match) {
        if ((*match)[1].matched && groups.contains((*match)[2])) {
          keys.insert((*match)[1]);
        }
      }
    }
  }
  return keys;
}

TEST(ProgramTables, EveryKeyTheSourcesUseIsInEveryTableWithTheSamePlaceholders) {
  std::map<std::string, nlohmann::json> tables;
  for (const auto& entry : std::filesystem::directory_iterator(sourceRoot / "resources" / "l10n")) {
    if (entry.path().extension() == ".json") {
      tables[entry.path().stem().string()] =
          nlohmann::json::parse(readFile(entry.path()), nullptr, false);
    }
  }
  ASSERT_TRUE(tables.contains("en") && tables.contains("fr"));
  std::set<std::string> groups;
  for (const auto& [key, text] : tables["en"].items()) {
    groups.insert(key.substr(0, key.find('.')));
  }
  const auto keys = keysInSources(groups);
  ASSERT_GT(keys.size(), 50u) << "the scan found too few keys: is the source tree there?";
  for (const auto& [language, table] : tables) {
    ASSERT_TRUE(table.is_object()) << language;
    EXPECT_EQ(keysOf(table), keysOf(tables["en"])) << language << " holds other keys";
    const Localizer localizer({sourceRoot / "resources" / "l10n"}, {language});
    for (const auto& key : keys) {
      SCOPED_TRACE(language + ": " + key);
      ASSERT_TRUE(table.contains(key) && table[key].is_string());
      const std::string text = table[key];
      EXPECT_FALSE(text.empty());
      const std::size_t arguments = argumentsOf(text);
      EXPECT_EQ(arguments, argumentsOf(tables["en"][key].get<std::string>()));
      // Every argument shows and no placeholder is left.
      const std::string formatted = localizer.format(key, "<A>", "<B>");
      EXPECT_EQ(formatted.find('{'), std::string::npos) << formatted;
      EXPECT_EQ(formatted.find("<A>") != std::string::npos, arguments >= 1) << formatted;
      EXPECT_EQ(formatted.find("<B>") != std::string::npos, arguments >= 2) << formatted;
    }
    for (const char* prefix : {"messages.you_prefix", "messages.varnelo_labs_prefix"}) {
      EXPECT_TRUE(table[prefix].get<std::string>().ends_with(' ')) << language << " " << prefix;
    }
  }
  // The build copies the tables beside the executables; the tests ask for English.
  EXPECT_EQ(L("eject.no_volumes"), tables["en"]["eject.no_volumes"].get<std::string>());
}

TEST(Utf8Text, IllFormedBytesAreRejectedAndReplacedAndCharactersCountAsTheUserSeesThem) {
  EXPECT_TRUE(isValidUtf8("\xC3\xA9t\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x92\xBE"));
  for (const char* bytes : {"\xff", "\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80",
                            "a\x80", "\xE2\x82"}) {
    EXPECT_FALSE(isValidUtf8(bytes)) << bytes;
  }
  EXPECT_EQ(replacingInvalidUtf8("a\xff\xC3\xA9"), "a\xEF\xBF\xBD\xC3\xA9");
  // "é" as e + combining acute is one character; the flag is one character of 8 bytes.
  const std::string combined = "e\xCC\x81";
  const std::string flag = "\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7";
  EXPECT_EQ(leadingCharacters(combined + "x" + flag + "yz", 3), combined + "x" + flag);
}

TEST(PrintableText, EscapesWhatCouldHideOrReorderALineAndKeepsOtherText) {
  for (const auto& [text, printed] : std::vector<std::pair<std::string, std::string>>{
           {"Clé 写真 🎞 {0} 100%", "Clé 写真 🎞 {0} 100%"},
           {"two\nlines\tand\rmore", "two\\nlines\\tand\\rmore"},
           {"esc\x1b[31m del\x7f b\\s \xc2\x9b", "esc\\x1b[31m del\\x7f b\\\\s \\u009b"},
           {"caf\xe9 \xc0\xaf a\xe2\x82", "caf\\xe9 \\xc0\\xaf a\\xe2\\x82"},
           // Right-to-left override: "USB\u202Egpj.exe" would show as "USBexe.jpg".
           {"USB\xe2\x80\xaegpj.exe", "USB\\u202egpj.exe"},
           {"\xe2\x81\xa6x\xe2\x81\xa9 \xe2\x80\x8f \xd8\x9c", "\\u2066x\\u2069 \\u200f \\u061c"},
           {"in\xe2\x80\x8bvisible\xef\xbb\xbf \xe2\x80\xa8", "in\\u200bvisible\\ufeff \\u2028"},
           {"tag\xf3\xa0\x81\x81", "tag\\U000e0041"},
           // Joiners belong to emoji and several scripts.
           {"👩\xe2\x80\x8d💻 \xe2\x80\x8c", "👩\xe2\x80\x8d💻 \xe2\x80\x8c"}}) {
    EXPECT_EQ(printableText(text), printed) << printed;
  }
}

TEST(ByteCountFormat, DecimalUnitsRoundedWithDecimalsFromMegabytesInTheUsersConventions) {
  ByteCountStyle french;
  french.decimalSeparator = ",";
  french.oneByte = "{} octet";
  french.bytes = "{} octets";
  french.units = {"{} ko", "{} Mo", "{} Go", "{} To", "{} Po", "{} Eo"};
  const std::tuple<std::int64_t, const char*, const char*> cases[] = {
      {0, "0 bytes", "0 octets"},
      {1, "1 byte", "1 octet"},
      {1024, "1 KB", "1 ko"},
      {1501, "2 KB", "2 ko"},
      {999'499, "999 KB", "999 ko"},
      {999'500, "1 MB", "1 Mo"},
      {1'234'567, "1.2 MB", "1,2 Mo"},
      {15'980'000'000, "15.98 GB", "15,98 Go"},
      {std::numeric_limits<std::int64_t>::max(), "9.22 EB", "9,22 Eo"}};
  for (const auto& [bytes, english, inFrench] : cases) {
    EXPECT_EQ(formatByteCount(bytes, ByteCountStyle{}), english) << bytes;
    EXPECT_EQ(formatByteCount(bytes, french), inFrench) << bytes;
  }
  EXPECT_EQ(decimalSeparatorOfLocale("C.UTF-8"), ".");
  EXPECT_EQ(decimalSeparatorOfLocale("xx_NOWHERE.UTF-8"), std::nullopt);
}

// The test environment asks for English.
TEST(VolumeSummary, CountsDisksAndImagesWithTheDisksPhraseFirstAndBackupsAsDisks) {
  EjectableVolume disk, image, backup;
  image.isDiskImage = true;
  backup.isTimeMachine = true;
  const std::pair<std::vector<EjectableVolume>, const char*> rows[] = {
      {{}, "No external volumes"},
      {{backup}, "1 volume connected"},
      {{disk, backup, disk}, "3 volumes connected"},
      {{image}, "1 disk image mounted"},
      {{image, image, image}, "3 disk images mounted"},
      {{backup, image}, "1 disk and 1 disk image connected"},
      {{image, disk, image, disk, disk}, "3 disks and 2 disk images connected"}};
  for (const auto& [volumes, expected] : rows) {
    EXPECT_EQ(EjectEngine::resume(volumes), expected);
  }
}

// Collation follows LC_ALL, LC_COLLATE, LANG: Swedish puts "Ä" after "Z", German by "A".
TEST(VolumeOrder, CollationLocaleComesFromLcAllThenLcCollateThenLang) {
  EngineRig rig;
  rig.source.setVolumes({{"/media/z", FakeVolumeSource::external("Zebra")},
                         {"/media/a", FakeVolumeSource::external("Äpple")}});
  const std::vector<std::string> swedish{"Zebra", "Äpple"};
  const std::vector<std::string> german{"Äpple", "Zebra"};
  const std::pair<std::map<std::string, std::string>, std::vector<std::string>> rows[] = {
      {{{"LC_ALL", "sv_SE.UTF-8"}, {"LC_COLLATE", "de_DE.UTF-8"}, {"LANG", "de_DE.UTF-8"}},
       swedish},
      {{{"LC_ALL", ""}, {"LC_COLLATE", "de_DE.UTF-8"}, {"LANG", "sv_SE.UTF-8"}}, german},
      {{{"LC_COLLATE", ""}, {"LANG", "sv_SE@euro"}}, swedish},
      {{{"LC_ALL", "C.UTF-8"}, {"LANG", "sv_SE.UTF-8"}}, german}};
  for (const auto& [environment, expected] : rows) {
    rig.environment = environment;
    EXPECT_EQ(namesOf(rig.makeEngine()->volumes()), expected)
        << testing::PrintToString(environment);
  }
}

} // namespace
