#include "core/settings.h"

#include <utility>

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

} // namespace

bool readBoolean(const SettingsStore& store, const SettingKey& key) {
  if (key.rule == ReadRule::onUnlessStoredFalse) {
    const auto value = store.object(key.name);
    return !(value && value->is<bool>() && !*value->as<bool>());
  }
  return store.boolean(key.name);
}

std::optional<RgbColor> colorFromHex(std::string_view hex) {
  std::string_view text = trimmedHorizontalSpace(hex);
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

// Observers are called with the lock held, so that once a subscription ends its observer is no
// longer running anywhere; recursive, so that an observer may change a setting or unsubscribe.
struct Settings::Observers {
  std::recursive_mutex mutex;
  std::uint64_t nextId = 1;
  std::map<std::uint64_t, Observer> byId;
};

Settings::Subscription& Settings::Subscription::operator=(Subscription&& other) noexcept {
  if (this != &other) {
    reset();
    observers_ = std::exchange(other.observers_, {});
    id_ = std::exchange(other.id_, 0);
  }
  return *this;
}

void Settings::Subscription::reset() {
  if (const std::shared_ptr<Observers> observers = observers_.lock()) {
    const std::lock_guard lock(observers->mutex);
    observers->byId.erase(id_);
  }
  observers_.reset();
}

Settings::Settings(SettingsStore& store)
    : store_(store), observers_(std::make_shared<Observers>()) {}

std::string Settings::text(const SettingKey& key) const {
  return store_.string(key.name).value_or(key.defaultText);
}

bool Settings::set(const SettingKey& key, SettingsValue value) {
  const bool written = store_.set(key.name, std::move(value));
  const std::lock_guard lock(observers_->mutex);
  // A copy: an observer may unsubscribe itself or another while we go through them.
  const std::map<std::uint64_t, Observer> observers = observers_->byId;
  for (const auto& [id, observer] : observers) {
    if (observers_->byId.contains(id)) {
      observer(key.name);
    }
  }
  return written;
}

Settings::Subscription Settings::subscribe(Observer observer) {
  const std::lock_guard lock(observers_->mutex);
  const std::uint64_t id = observers_->nextId++;
  observers_->byId.emplace(id, std::move(observer));
  return Subscription(observers_, id);
}

const std::vector<StatusColorEntry>& Settings::statusColors() const {
  std::call_once(colorsBuilt_, [this] {
    colors_ = {
        {L("settings.color_system"), ""},       {L("settings.color_mauve"), "#7C3AED"},
        {L("settings.color_blue"), "#3B82F6"},  {L("settings.color_amber"), "#F59E0B"},
        {L("settings.color_green"), "#22C55E"}, {L("settings.color_red"), "#E11D48"},
    };
  });
  return colors_;
}
