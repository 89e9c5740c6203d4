#include "core/eject_settings.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

#include <gtest/gtest.h>

#include "core/localization.h"

namespace {

// The settings live in the shared store; every test starts and ends with the three keys absent.
// ctest runs each case in its own process, possibly beside other test processes that use the
// same keys: before the shared store is first opened, this suite points the configuration folder
// at one of its own, so parallel runs never see each other's values.
class EjectSettingsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const char* configHome = std::getenv("XDG_CONFIG_HOME");
    if (configHome != nullptr && *configHome != '\0') {
      originalConfigHome_ = configHome;
    }
    ownConfigHome_ = std::filesystem::path(originalConfigHome_.value_or(
                         std::filesystem::temp_directory_path().string())) /
                     ("eject-settings-" + std::to_string(::getpid()));
    ::setenv("XDG_CONFIG_HOME", ownConfigHome_.c_str(), 1);
  }
  static void TearDownTestSuite() {
    if (originalConfigHome_) {
      ::setenv("XDG_CONFIG_HOME", originalConfigHome_->c_str(), 1);
    } else {
      ::unsetenv("XDG_CONFIG_HOME");
    }
    // Should a later test write through the shared store, the folder simply comes back.
    std::error_code ignored;
    std::filesystem::remove_all(ownConfigHome_, ignored);
  }

  void SetUp() override { clear(); }
  void TearDown() override { clear(); }

  static void clear() {
    for (const char* key : {EjectSettings::protectTimeMachineKey, EjectSettings::ejectDiskImagesKey,
                            EjectSettings::statusColorKey}) {
      EjectSettings::defaults().remove(key);
    }
  }

  static SettingsStore& store() { return EjectSettings::defaults(); }

  static inline std::optional<std::string> originalConfigHome_;
  static inline std::filesystem::path ownConfigHome_;
};

TEST_F(EjectSettingsTest, DefaultsAreTheProcessSharedStore) {
  EXPECT_EQ(&EjectSettings::defaults(), &SettingsStore::shared());
  EXPECT_EQ(EjectSettings::defaults().file().filename(), "defaults.plist");
  EXPECT_EQ(EjectSettings::defaults().file().parent_path().filename(), "VarneloEject");
}

TEST_F(EjectSettingsTest, WithNothingStoredTheDefaultsApply) {
  EXPECT_TRUE(EjectSettings::protectTimeMachine());
  EXPECT_FALSE(EjectSettings::ejectDiskImages());
  EXPECT_EQ(EjectSettings::statusColorHex(), "#7C3AED");
}

// --- VEProtectTimeMachine --------------------------------------------------------------------

TEST_F(EjectSettingsTest, ProtectTimeMachineReadsAStoredBoolean) {
  EjectSettings::setProtectTimeMachine(false);
  EXPECT_FALSE(EjectSettings::protectTimeMachine());
  EXPECT_EQ(store().object("VEProtectTimeMachine"), SettingsValue(false));
  EjectSettings::setProtectTimeMachine(true);
  EXPECT_TRUE(EjectSettings::protectTimeMachine());
}

TEST_F(EjectSettingsTest, ProtectTimeMachineIsOnWhenTheKeyHoldsSomethingElse) {
  // Unlike the ordinary Boolean reading, "NO" or 0 do not turn protection off.
  store().set("VEProtectTimeMachine", "NO");
  EXPECT_TRUE(EjectSettings::protectTimeMachine());
  store().set("VEProtectTimeMachine", 0);
  EXPECT_TRUE(EjectSettings::protectTimeMachine());
  store().set("VEProtectTimeMachine", SettingsValue::Array{false});
  EXPECT_TRUE(EjectSettings::protectTimeMachine());
}

// --- VEEjectDiskImages -----------------------------------------------------------------------

TEST_F(EjectSettingsTest, EjectDiskImagesStoresABoolean) {
  EjectSettings::setEjectDiskImages(true);
  EXPECT_TRUE(EjectSettings::ejectDiskImages());
  EXPECT_EQ(store().object("VEEjectDiskImages"), SettingsValue(true));
  EjectSettings::setEjectDiskImages(false);
  EXPECT_FALSE(EjectSettings::ejectDiskImages());
}

TEST_F(EjectSettingsTest, EjectDiskImagesUsesTheOrdinaryBooleanReading) {
  store().set("VEEjectDiskImages", "YES");
  EXPECT_TRUE(EjectSettings::ejectDiskImages());
  store().set("VEEjectDiskImages", 1);
  EXPECT_TRUE(EjectSettings::ejectDiskImages());
  store().set("VEEjectDiskImages", "0");
  EXPECT_FALSE(EjectSettings::ejectDiskImages());
  store().set("VEEjectDiskImages", SettingsValue::Dictionary{});
  EXPECT_FALSE(EjectSettings::ejectDiskImages());
}

// --- VEStatusColor ---------------------------------------------------------------------------

TEST_F(EjectSettingsTest, EmptyStatusColorIsKeptAndMeansNoColour) {
  EjectSettings::setStatusColorHex("");
  EXPECT_EQ(EjectSettings::statusColorHex(), "");
  EXPECT_FALSE(EjectSettings::color(EjectSettings::statusColorHex()).has_value());
}

TEST_F(EjectSettingsTest, StatusColorIsStoredUncheckedAsText) {
  EjectSettings::setStatusColorHex("not a colour");
  EXPECT_EQ(store().object("VEStatusColor"), SettingsValue("not a colour"));
  EXPECT_EQ(EjectSettings::statusColorHex(), "not a colour");
}

TEST_F(EjectSettingsTest, StatusColorThatIsNotATextReadsAsTheDefault) {
  store().set("VEStatusColor", 0x7C3AED);
  EXPECT_EQ(EjectSettings::statusColorHex(), "#7C3AED");
}

TEST_F(EjectSettingsTest, WritesReachTheFileForOtherProcesses) {
  EjectSettings::setProtectTimeMachine(false);
  EjectSettings::setStatusColorHex("#22C55E");
  SettingsStore reader(EjectSettings::defaults().file());
  EXPECT_EQ(reader.object("VEProtectTimeMachine"), SettingsValue(false));
  EXPECT_EQ(reader.string("VEStatusColor"), "#22C55E");
}

TEST_F(EjectSettingsTest, ReadsSeeChangesMadeThroughAnotherStoreObject) {
  SettingsStore writer(EjectSettings::defaults().file());
  writer.set("VEEjectDiskImages", true);
  EXPECT_TRUE(EjectSettings::ejectDiskImages());
  writer.remove("VEEjectDiskImages");
}

// --- Colour table ----------------------------------------------------------------------------

TEST(EjectSettingsColors, SixRowsInOrderWithLocalisedTitles) {
  const auto& colors = EjectSettings::statusColors();
  ASSERT_EQ(colors.size(), 6u);
  const std::pair<const char*, const char*> expected[] = {
      {"settings.color_system", ""},       {"settings.color_mauve", "#7C3AED"},
      {"settings.color_blue", "#3B82F6"},  {"settings.color_amber", "#F59E0B"},
      {"settings.color_green", "#22C55E"}, {"settings.color_red", "#E11D48"},
  };
  for (std::size_t index = 0; index < colors.size(); ++index) {
    EXPECT_EQ(colors[index].titre, L(expected[index].first)) << index;
    EXPECT_EQ(colors[index].hex, expected[index].second) << index;
  }
  EXPECT_EQ(colors[1].hex, EjectSettings::defaultStatusColor);
}

TEST(EjectSettingsColors, EveryRowButTheFirstIsAValidColour) {
  const auto& colors = EjectSettings::statusColors();
  EXPECT_FALSE(EjectSettings::color(colors[0].hex).has_value());
  for (std::size_t index = 1; index < colors.size(); ++index) {
    EXPECT_TRUE(EjectSettings::color(colors[index].hex).has_value()) << colors[index].hex;
  }
}

// --- color(fromHex:) -------------------------------------------------------------------------

const RgbColor mauve{124 / 255.0, 58 / 255.0, 237 / 255.0};

TEST(EjectSettingsColorFromHex, ReadsTheSixDigitsAsRedGreenBlue) {
  EXPECT_EQ(EjectSettings::color("#7C3AED"), mauve);
  EXPECT_EQ(EjectSettings::color("#000000"), (RgbColor{0, 0, 0}));
  EXPECT_EQ(EjectSettings::color("#FFFFFF"), (RgbColor{1, 1, 1}));
  EXPECT_EQ(EjectSettings::color("#FF0000"), (RgbColor{1, 0, 0}));
  EXPECT_EQ(EjectSettings::color("#00FF00"), (RgbColor{0, 1, 0}));
  EXPECT_EQ(EjectSettings::color("#0000FF"), (RgbColor{0, 0, 1}));
}

TEST(EjectSettingsColorFromHex, NumberSignIsOptionalAndCaseDoesNotMatter) {
  EXPECT_EQ(EjectSettings::color("7c3aed"), mauve);
  EXPECT_EQ(EjectSettings::color("7C3AED"), mauve);
  EXPECT_EQ(EjectSettings::color("#7c3AeD"), mauve);
}

TEST(EjectSettingsColorFromHex, HorizontalWhiteSpaceAroundIsIgnored) {
  EXPECT_EQ(EjectSettings::color("  #7C3AED  "), mauve);
  EXPECT_EQ(EjectSettings::color("\t#7C3AED\t"), mauve);
  EXPECT_EQ(EjectSettings::color("\u00A0#7C3AED\u00A0"), mauve);       // no-break space
  EXPECT_EQ(EjectSettings::color("\u3000\u2009#7C3AED\u202F"), mauve); // ideographic, thin
  EXPECT_EQ(EjectSettings::color("\u1680\u2000#7C3AED\u200A\u205F"), mauve);
}

TEST(EjectSettingsColorFromHex, LineBreaksAndOtherCharactersAreNotTrimmed) {
  EXPECT_FALSE(EjectSettings::color("#7C3AED\n").has_value());
  EXPECT_FALSE(EjectSettings::color("\n#7C3AED").has_value());
  EXPECT_FALSE(EjectSettings::color("#7C3AED\r").has_value());
  EXPECT_FALSE(EjectSettings::color("#7C3AED\u2028").has_value()); // line separator
  EXPECT_FALSE(EjectSettings::color("#7C3AED\u0085").has_value()); // next line
  EXPECT_FALSE(EjectSettings::color("\u200B#7C3AED").has_value()); // zero-width space
  EXPECT_FALSE(EjectSettings::color("#7C3AED\v").has_value());
}

TEST(EjectSettingsColorFromHex, RejectsEverythingButSixHexDigits) {
  for (const char* text : {"", "   ", "\t", "#", "##7C3AED", "#7C3AED80", "7C3AED80", "#7C3", "7C3",
                           "#7C3AE", "#7C3AEDD", "#7C3AEG", "#7C 3AE", "+7C3AE", "-7C3AE",
                           "0x7C3AED", "#7C3AÉD", "# 7C3AED", "#7C3AED#"}) {
    EXPECT_FALSE(EjectSettings::color(text).has_value()) << "\"" << text << "\"";
  }
}

} // namespace
