#include "core/eject_settings.h"

#include <array>
#include <mutex>
#include <string_view>

#include "core/localization.h"

namespace {

// The horizontal white space trimmed around a colour text, as UTF-8: space, tab and the
// Unicode space separators. Line breaks are deliberately not among them.
constexpr std::array<std::string_view, 18> horizontalSpaces{
    " ",      "\t",     "\u00A0", "\u1680", "\u2000", "\u2001", "\u2002", "\u2003", "\u2004",
    "\u2005", "\u2006", "\u2007", "\u2008", "\u2009", "\u200A", "\u202F", "\u205F", "\u3000"};

std::string_view trimmedHorizontalSpace(std::string_view text) {
  for (bool trimmed = true; trimmed && !text.empty();) {
    trimmed = false;
    for (const auto space : horizontalSpaces) {
      if (text.starts_with(space)) {
        text.remove_prefix(space.size());
        trimmed = true;
        break;
      }
    }
  }
  for (bool trimmed = true; trimmed && !text.empty();) {
    trimmed = false;
    for (const auto space : horizontalSpaces) {
      if (text.ends_with(space)) {
        text.remove_suffix(space.size());
        trimmed = true;
        break;
      }
    }
  }
  return text;
}

int hexDigitValue(char digit) {
  if (digit >= '0' && digit <= '9') {
    return digit - '0';
  }
  if (digit >= 'a' && digit <= 'f') {
    return digit - 'a' + 10;
  }
  if (digit >= 'A' && digit <= 'F') {
    return digit - 'A' + 10;
  }
  return -1;
}

// Switches that are on until the user turns them off: only a stored Boolean false counts, so
// "NO" or 0 written by hand do not turn a protection off.
bool onUnlessStoredFalse(const SettingsStore& store, const char* key) {
  const auto value = store.object(key);
  return !(value && value->is<bool>() && !*value->as<bool>());
}

} // namespace

SettingsStore& EjectSettings::defaults() {
  static std::once_flag once;
  static SettingsStore* store = nullptr;
  std::call_once(once, [] { store = &SettingsStore::shared(); });
  return *store;
}

bool EjectSettings::protectTimeMachine() {
  return onUnlessStoredFalse(defaults(), protectTimeMachineKey);
}

void EjectSettings::setProtectTimeMachine(bool value) {
  defaults().set(protectTimeMachineKey, value);
}

bool EjectSettings::ejectDiskImages() {
  return defaults().boolean(ejectDiskImagesKey);
}

void EjectSettings::setEjectDiskImages(bool value) {
  defaults().set(ejectDiskImagesKey, value);
}

bool EjectSettings::notifyWhenSafe() {
  return onUnlessStoredFalse(defaults(), notifyWhenSafeKey);
}

void EjectSettings::setNotifyWhenSafe(bool value) {
  defaults().set(notifyWhenSafeKey, value);
}

std::string EjectSettings::statusColorHex() {
  return defaults().string(statusColorKey).value_or(defaultStatusColor);
}

void EjectSettings::setStatusColorHex(const std::string& value) {
  defaults().set(statusColorKey, value);
}

bool EjectSettings::automaticServerContact(const SettingsStore& store) {
  return onUnlessStoredFalse(store, automaticServerContactKey);
}

void EjectSettings::setAutomaticServerContact(bool value) {
  defaults().set(automaticServerContactKey, value);
}

const std::vector<StatusColorEntry>& EjectSettings::statusColors() {
  static std::once_flag once;
  static std::vector<StatusColorEntry> colors;
  std::call_once(once, [] {
    colors = {
        {L("settings.color_system"), ""},       {L("settings.color_mauve"), "#7C3AED"},
        {L("settings.color_blue"), "#3B82F6"},  {L("settings.color_amber"), "#F59E0B"},
        {L("settings.color_green"), "#22C55E"}, {L("settings.color_red"), "#E11D48"},
    };
  });
  return colors;
}

std::optional<RgbColor> EjectSettings::color(const std::string& fromHex) {
  std::string_view text = trimmedHorizontalSpace(fromHex);
  if (text.empty()) {
    return std::nullopt;
  }
  if (text.front() == '#') {
    text.remove_prefix(1);
  }
  if (text.size() != 6) {
    return std::nullopt;
  }
  int number = 0;
  for (const char digit : text) {
    const int value = hexDigitValue(digit);
    if (value < 0) {
      return std::nullopt;
    }
    number = number * 16 + value;
  }
  return RgbColor{((number >> 16) & 0xFF) / 255.0, ((number >> 8) & 0xFF) / 255.0,
                  (number & 0xFF) / 255.0};
}
