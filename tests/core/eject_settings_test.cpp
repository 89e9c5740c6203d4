#include "core/eject_settings.h"

#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace {

constexpr const char* switches[] = {
    EjectSettings::protectTimeMachineKey, EjectSettings::notifyWhenSafeKey,
    EjectSettings::automaticServerContactKey, EjectSettings::ejectDiskImagesKey};

// Keys are cleared around each case, for runs of the whole executable in one process.
class EjectSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override { clear(); }
  void TearDown() override { clear(); }
  static void clear() {
    for (const char* key : switches) {
      EjectSettings::defaults().remove(key);
    }
    EjectSettings::defaults().remove(EjectSettings::statusColorKey);
  }
};

TEST_F(EjectSettingsTest, DefaultsUntilStoredThenProtectionsOffOnlyForAStoredFalse) {
  const auto read = [] {
    return std::vector<bool>{EjectSettings::protectTimeMachine(), EjectSettings::notifyWhenSafe(),
                             EjectSettings::automaticServerContact(),
                             EjectSettings::ejectDiskImages()};
  };
  EXPECT_EQ(read(), (std::vector<bool>{true, true, true, false}));
  // Unlike the ordinary Boolean reading, "NO" or 0 do not turn a protection off.
  const std::pair<SettingsValue, std::vector<bool>> rows[] = {
      {"YES", {true, true, true, true}},
      {"NO", {true, true, true, false}},
      {0, {true, true, true, false}},
      {false, {false, false, false, false}}};
  for (const auto& [stored, expected] : rows) {
    for (const char* key : switches) {
      EjectSettings::defaults().set(key, stored);
    }
    EXPECT_EQ(read(), expected) << testing::PrintToString(stored);
  }
  for (const bool value : {true, false}) {
    EjectSettings::setProtectTimeMachine(value);
    EjectSettings::setNotifyWhenSafe(value);
    EjectSettings::setAutomaticServerContact(value);
    EjectSettings::setEjectDiskImages(value);
    EXPECT_EQ(read(), std::vector<bool>(4, value)) << "written where it is read";
  }
}

TEST_F(EjectSettingsTest, StatusColourIsStoredUncheckedAndParsedWithSpaceAroundIt) {
  EXPECT_EQ(EjectSettings::statusColorHex(), "#7C3AED");
  EjectSettings::setStatusColorHex(""); // the desktop's own look
  EXPECT_EQ(EjectSettings::statusColorHex(), "");
  EjectSettings::defaults().set(EjectSettings::statusColorKey, 0x22C55E);
  EXPECT_EQ(EjectSettings::statusColorHex(), "#7C3AED") << "a non-text reads as the default";
  EXPECT_EQ(EjectSettings::color("00ff00"), RgbColor{.green = 1});
  EXPECT_EQ(EjectSettings::color("\t\u00A0#7c3aED\u3000 "),
            (RgbColor{.red = 124 / 255.0, .green = 58 / 255.0, .blue = 237 / 255.0}));
  for (const char* text : {"#7C3AED\n", "", "#", "#7C3AE", "#7C3AED80", "#7C3AEG", "##7C3AED"}) {
    EXPECT_FALSE(EjectSettings::color(text).has_value()) << '"' << text << '"';
  }
}

} // namespace
