#include "core/eject_settings.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

#include <gtest/gtest.h>

#include "core/localization.h"
#include "tests/support/environment_variable.h"

namespace {

// The settings live in the shared store; every test starts and ends with the three keys absent.
// ctest runs each case in its own process, possibly beside other test processes that use the
// same keys: before the shared store is first opened, this suite points the configuration folder
// at one of its own, so parallel runs never see each other's values.
class EjectSettingsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const char* configHome = std::getenv("XDG_CONFIG_HOME");
    ownConfigHome_ = std::filesystem::path(configHome != nullptr && *configHome != '\0'
                                               ? configHome
                                               : std::filesystem::temp_directory_path().c_str()) /
                     ("eject-settings-" + std::to_string(::getpid()));
    configHome_.emplace("XDG_CONFIG_HOME", ownConfigHome_.c_str());
  }
  static void TearDownTestSuite() {
    configHome_.reset();
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

  static inline std::filesystem::path ownConfigHome_;
  static inline std::optional<EnvironmentVariable> configHome_;
};

TEST_F(EjectSettingsTest, ProtectionIsOffOnlyForAStoredFalseImagesFollowTheUsualBoolean) {
  EjectSettings::setProtectTimeMachine(false);
  EXPECT_FALSE(EjectSettings::protectTimeMachine());
  EXPECT_EQ(store().object("VEProtectTimeMachine"), SettingsValue(false));
  EjectSettings::setProtectTimeMachine(true);
  EXPECT_TRUE(EjectSettings::protectTimeMachine());
  // Unlike the ordinary Boolean reading, "NO" or 0 do not turn protection off.
  // So does the safe-to-remove notification, on unless a false is stored.
  EXPECT_TRUE(EjectSettings::notifyWhenSafe());
  EjectSettings::setNotifyWhenSafe(false);
  EXPECT_EQ(store().object("VENotifyWhenSafe"), SettingsValue(false));
  for (const SettingsValue& other :
       {SettingsValue("NO"), SettingsValue(0), SettingsValue(SettingsValue::Array{false})}) {
    store().set("VEProtectTimeMachine", other);
    store().set("VENotifyWhenSafe", other);
    EXPECT_TRUE(EjectSettings::protectTimeMachine());
    EXPECT_TRUE(EjectSettings::notifyWhenSafe());
  }
  EjectSettings::setEjectDiskImages(true);
  EXPECT_TRUE(EjectSettings::ejectDiskImages());
  EXPECT_EQ(store().object("VEEjectDiskImages"), SettingsValue(true));
  EjectSettings::setEjectDiskImages(false);
  EXPECT_FALSE(EjectSettings::ejectDiskImages());
  const std::pair<SettingsValue, bool> stored[] = {
      {"YES", true}, {1, true}, {"0", false}, {SettingsValue::Dictionary{}, false}};
  for (const auto& [value, expected] : stored) {
    store().set("VEEjectDiskImages", value);
    EXPECT_EQ(EjectSettings::ejectDiskImages(), expected);
  }
}

TEST_F(EjectSettingsTest, StatusColorIsStoredUncheckedAsTextAndANonTextReadsAsTheDefault) {
  EjectSettings::setStatusColorHex("not a colour");
  EXPECT_EQ(store().object("VEStatusColor"), SettingsValue("not a colour"));
  EXPECT_EQ(EjectSettings::statusColorHex(), "not a colour");
  EjectSettings::setStatusColorHex(""); // kept, and means no colour
  EXPECT_EQ(EjectSettings::statusColorHex(), "");
  EXPECT_FALSE(EjectSettings::color(EjectSettings::statusColorHex()).has_value());
  store().set("VEStatusColor", 0x7C3AED);
  EXPECT_EQ(EjectSettings::statusColorHex(), "#7C3AED");
}

TEST_F(EjectSettingsTest, DefaultsApplyUntilTheSharedFileOtherProcessesUseHoldsAValue) {
  EXPECT_TRUE(EjectSettings::protectTimeMachine());
  EXPECT_FALSE(EjectSettings::ejectDiskImages());
  EXPECT_EQ(EjectSettings::statusColorHex(), "#7C3AED");
  EXPECT_EQ(&EjectSettings::defaults(), &SettingsStore::shared());
  EXPECT_EQ(EjectSettings::defaults().file().filename(), "defaults.plist");
  EXPECT_EQ(EjectSettings::defaults().file().parent_path().filename(), "VarneloEject");
  EjectSettings::setProtectTimeMachine(false);
  EjectSettings::setStatusColorHex("#22C55E");
  SettingsStore other(EjectSettings::defaults().file());
  EXPECT_EQ(other.object("VEProtectTimeMachine"), SettingsValue(false));
  EXPECT_EQ(other.string("VEStatusColor"), "#22C55E");
  other.set("VEEjectDiskImages", true);
  EXPECT_TRUE(EjectSettings::ejectDiskImages());
}

// --- Colours ---------------------------------------------------------------------------------

TEST(EjectSettingsColors, SixRowsInOrderWithLocalisedTitlesAllButTheFirstValid) {
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
    EXPECT_EQ(EjectSettings::color(colors[index].hex).has_value(), index > 0) << index;
  }
  EXPECT_EQ(colors[1].hex, EjectSettings::defaultStatusColor);
}

TEST(EjectSettingsColorFromHex, ReadsSixDigitsInAnyCaseWithOptionalSignAndHorizontalSpace) {
  EXPECT_EQ(EjectSettings::color("#000000"), (RgbColor{0, 0, 0}));
  EXPECT_EQ(EjectSettings::color("#FFFFFF"), (RgbColor{1, 1, 1}));
  EXPECT_EQ(EjectSettings::color("#FF0000"), (RgbColor{1, 0, 0}));
  EXPECT_EQ(EjectSettings::color("#00FF00"), (RgbColor{0, 1, 0}));
  EXPECT_EQ(EjectSettings::color("#0000FF"), (RgbColor{0, 0, 1}));
  // No-break, ideographic, thin and other horizontal spaces are trimmed too.
  for (const char* mauve :
       {"#7C3AED", "7c3aed", "7C3AED", "#7c3AeD", "  #7C3AED  ", "\t#7C3AED\t",
        "\u00A0#7C3AED\u00A0", "\u3000\u2009#7C3AED\u202F", "\u1680\u2000#7C3AED\u200A\u205F"}) {
    EXPECT_EQ(EjectSettings::color(mauve), (RgbColor{124 / 255.0, 58 / 255.0, 237 / 255.0}))
        << "\"" << mauve << "\"";
  }
}

TEST(EjectSettingsColorFromHex, RejectsLineBreaksOtherCharactersAndAnythingButSixHexDigits) {
  for (const char* text : {"#7C3AED\n",
                           "\n#7C3AED",
                           "#7C3AED\r",
                           "#7C3AED\u2028",
                           "#7C3AED\u0085",
                           "\u200B#7C3AED",
                           "#7C3AED\v",
                           "",
                           "   ",
                           "\t",
                           "#",
                           "##7C3AED",
                           "#7C3AED80",
                           "7C3AED80",
                           "#7C3",
                           "7C3",
                           "#7C3AE",
                           "#7C3AEDD",
                           "#7C3AEG",
                           "#7C 3AE",
                           "+7C3AE",
                           "-7C3AE",
                           "0x7C3AED",
                           "#7C3AÉD",
                           "# 7C3AED",
                           "#7C3AED#"}) {
    EXPECT_FALSE(EjectSettings::color(text).has_value()) << "\"" << text << "\"";
  }
}

} // namespace
