#include "core/eject_settings.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/localization.h"

namespace {

// Keys are cleared around each case, for runs of the whole executable in one process.
class EjectSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override { clear(); }
  void TearDown() override { clear(); }
  static void clear() {
    for (const char* key : {EjectSettings::protectTimeMachineKey, EjectSettings::ejectDiskImagesKey,
                            EjectSettings::statusColorKey, EjectSettings::notifyWhenSafeKey}) {
      EjectSettings::defaults().remove(key);
    }
  }
};

TEST_F(EjectSettingsTest, DefaultsUntilStoredThenProtectionOffOnlyForAStoredFalse) {
  SettingsStore& store = EjectSettings::defaults();
  EXPECT_TRUE(EjectSettings::protectTimeMachine());
  EXPECT_TRUE(EjectSettings::notifyWhenSafe());
  EXPECT_FALSE(EjectSettings::ejectDiskImages());
  EXPECT_EQ(EjectSettings::statusColorHex(), "#7C3AED");
  EXPECT_EQ(store.file(), SettingsStore::shared().file());
  // Unlike the ordinary Boolean reading, "NO" or 0 do not turn protection off.
  const std::vector<SettingsValue> on{true, "YES", 1};
  const std::vector<SettingsValue> off{
      false, "NO", 0, "0", SettingsValue::Array{false}, SettingsValue::Dictionary{}};
  for (const bool imagesEjected : {true, false}) {
    for (const SettingsValue& stored : imagesEjected ? on : off) {
      store.set("VEProtectTimeMachine", stored);
      store.set("VEEjectDiskImages", stored);
      store.set("VENotifyWhenSafe", stored);
      EXPECT_EQ(EjectSettings::protectTimeMachine(), !(stored == SettingsValue(false)));
      EXPECT_EQ(EjectSettings::notifyWhenSafe(), !(stored == SettingsValue(false)));
      EXPECT_EQ(EjectSettings::ejectDiskImages(), imagesEjected) << testing::PrintToString(stored);
    }
  }
  for (const bool value : {false, true}) {
    EjectSettings::setProtectTimeMachine(value);
    EjectSettings::setEjectDiskImages(value);
    EjectSettings::setNotifyWhenSafe(value);
    // Another process reading the same file sees the change.
    SettingsStore other(store.file());
    EXPECT_EQ(other.object("VEProtectTimeMachine"), SettingsValue(value));
    EXPECT_EQ(other.object("VEEjectDiskImages"), SettingsValue(value));
    EXPECT_EQ(other.object("VENotifyWhenSafe"), SettingsValue(value));
  }
}

TEST_F(EjectSettingsTest, StatusColorIsStoredUncheckedAsTextAndANonTextReadsAsTheDefault) {
  for (const char* text : {"not a colour", ""}) { // empty: no colour
    EjectSettings::setStatusColorHex(text);
    EXPECT_EQ(SettingsStore(EjectSettings::defaults().file()).string("VEStatusColor"), text);
    EXPECT_EQ(EjectSettings::statusColorHex(), text);
  }
  EjectSettings::defaults().set("VEStatusColor", 0x22C55E);
  EXPECT_EQ(EjectSettings::statusColorHex(), "#7C3AED");

  const auto& colors = EjectSettings::statusColors();
  ASSERT_EQ(colors.size(), 6u);
  EXPECT_EQ(colors[0].hex, "") << "the first row is the desktop's own look";
  EXPECT_EQ(colors[1].hex, EjectSettings::defaultStatusColor);
  for (std::size_t row = 1; row < colors.size(); ++row) {
    EXPECT_TRUE(EjectSettings::color(colors[row].hex).has_value()) << colors[row].hex;
    EXPECT_FALSE(colors[row].titre.starts_with("settings.")) << "untranslated row " << row;
  }
}

TEST_F(EjectSettingsTest, ColorsAreSixHexDigitsWithOptionalSignAndHorizontalSpaceTrimmed) {
  const std::pair<const char*, RgbColor> read[] = {
      {"#000000", {}},
      {"#FFFFFF", {.red = 1, .green = 1, .blue = 1}},
      {"#FF0000", {.red = 1}},
      {"00ff00", {.green = 1}},
      {"\t#0000fF ", {.blue = 1}},
      {"\u00A0#7C3AED\u3000\u2009", {.red = 124 / 255.0, .green = 58 / 255.0, .blue = 237 / 255.0}},
      {"\u1680\u2000#7c3aed\u200A\u205F\u202F",
       {.red = 124 / 255.0, .green = 58 / 255.0, .blue = 237 / 255.0}}};
  for (const auto& [text, expected] : read) {
    EXPECT_EQ(EjectSettings::color(text), expected) << '"' << text << '"';
  }
  for (const char* text :
       {"#7C3AED\n",     "\n#7C3AED", "#7C3AED\r", "#7C3AED\u2028", "#7C3AED\u0085",
        "\u200B#7C3AED", "#7C3AED\v", "",          "   ",           "#",
        "##7C3AED",      "#7C3AED80", "#7C3",      "7C3",           "#7C3AE",
        "#7C3AEDD",      "#7C3AEG",   "#7C 3AE",   "+7C3AE",        "0x7C3AED",
        "#7C3AÉD",       "# 7C3AED",  "#7C3AED#"}) {
    EXPECT_FALSE(EjectSettings::color(text).has_value()) << '"' << text << '"';
  }
}

} // namespace
