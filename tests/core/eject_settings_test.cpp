#include "core/eject_settings.h"

#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/temporary_folder.h"

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
  SettingsStore& store = EjectSettings::defaults();
  EXPECT_EQ(store.file(), SettingsStore::shared().file());
  const auto read = [&] {
    return std::vector<bool>{EjectSettings::protectTimeMachine(), EjectSettings::notifyWhenSafe(),
                             EjectSettings::automaticServerContact(),
                             EjectSettings::ejectDiskImages()};
  };
  EXPECT_EQ(read(), (std::vector<bool>{true, true, true, false}));
  EXPECT_EQ(EjectSettings::statusColorHex(), "#7C3AED");
  // Unlike the ordinary Boolean reading, "NO" or 0 do not turn a protection off.
  const std::pair<SettingsValue, std::vector<bool>> rows[] = {
      {"YES", {true, true, true, true}},
      {1, {true, true, true, true}},
      {"NO", {true, true, true, false}},
      {0, {true, true, true, false}},
      {false, {false, false, false, false}}};
  for (const auto& [stored, expected] : rows) {
    for (const char* key : switches) {
      store.set(key, stored);
    }
    EXPECT_EQ(read(), expected) << testing::PrintToString(stored);
  }
  // The server contact is read from the store the caller hands in.
  TemporaryFolder folder;
  SettingsStore other(folder / "defaults.plist");
  EXPECT_TRUE(EjectSettings::automaticServerContact(other));
  for (const bool value : {true, false}) {
    EjectSettings::setProtectTimeMachine(value);
    EjectSettings::setNotifyWhenSafe(value);
    EjectSettings::setAutomaticServerContact(value);
    EjectSettings::setEjectDiskImages(value);
    EXPECT_EQ(read(), std::vector<bool>(4, value)) << "written where it is read";
  }
}

TEST_F(EjectSettingsTest, StatusColourIsStoredUncheckedAndParsedWithSpaceAroundIt) {
  for (const char* text : {"not a colour", ""}) { // empty: the desktop's own look
    EjectSettings::setStatusColorHex(text);
    EXPECT_EQ(EjectSettings::statusColorHex(), text);
  }
  EjectSettings::defaults().set(EjectSettings::statusColorKey, 0x22C55E);
  EXPECT_EQ(EjectSettings::statusColorHex(), "#7C3AED") << "a non-text reads as the default";
  const auto& rows = EjectSettings::statusColors();
  for (std::size_t row = 1; row < rows.size(); ++row) {
    EXPECT_TRUE(EjectSettings::color(rows[row].hex).has_value()) << rows[row].hex;
  }
  const RgbColor mauve{.red = 124 / 255.0, .green = 58 / 255.0, .blue = 237 / 255.0};
  EXPECT_EQ(EjectSettings::color("00ff00"), RgbColor{.green = 1});
  EXPECT_EQ(EjectSettings::color("\t\u00A0#7c3aED\u3000 "), mauve);
  for (const char* text : {"#7C3AED\n", "", "#", "#7C3AE", "#7C3AED80", "#7C3AEG", "##7C3AED"}) {
    EXPECT_FALSE(EjectSettings::color(text).has_value()) << '"' << text << '"';
  }
}

} // namespace
