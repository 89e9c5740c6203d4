#include "core/support/server_check.h"

#include <algorithm>
#include <limits>

#include "core/settings_store.h"
#include "core/support/identity.h"
#include "core/support/message_history.h"

std::optional<CheckAnswer> CheckAnswer::from(const nlohmann::json& object) {
  if (!object.is_object()) {
    return std::nullopt;
  }
  const auto ticket = object.find("tk");
  const auto id = object.find("mid");
  const auto text = object.find("msg");
  if (ticket == object.end() || !ticket->is_string() || id == object.end() ||
      !id->is_number_integer() || text == object.end() || !text->is_string()) {
    return std::nullopt;
  }
  // An unsigned id beyond the signed range is no id this program can hold.
  if (id->is_number_unsigned() &&
      id->get<std::uint64_t>() >
          static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
    return std::nullopt;
  }
  return CheckAnswer{ticket->get<std::string>(), id->get<std::int64_t>(),
                     boundedMessageText(text->get<std::string>())};
}

std::vector<std::int64_t> ShownMessages::read(const SettingsStore& defaults) {
  const auto value = defaults.object(listKey);
  const SettingsValue::Array* list = value ? value->as<SettingsValue::Array>() : nullptr;
  if (list == nullptr) {
    return {};
  }
  std::vector<std::int64_t> ids;
  ids.reserve(list->size());
  for (const SettingsValue& element : *list) {
    const std::int64_t* id = element.as<std::int64_t>();
    if (id == nullptr) {
      return {};
    }
    ids.push_back(*id);
  }
  return ids;
}

void ShownMessages::record(SettingsStore& defaults, std::int64_t id) {
  std::vector<std::int64_t> ids = read(defaults);
  ids.push_back(id);
  if (ids.size() > maxEntries) {
    ids.erase(ids.begin(), ids.end() - static_cast<std::ptrdiff_t>(maxEntries));
  }
  SettingsValue::Array list(ids.begin(), ids.end());
  defaults.set(listKey, std::move(list));
  defaults.set(acknowledgedKey, id);
}

std::optional<std::int64_t> ShownMessages::acknowledged(const SettingsStore& defaults) {
  const auto value = defaults.object(acknowledgedKey);
  const std::int64_t* id = value ? value->as<std::int64_t>() : nullptr;
  if (id == nullptr || *id <= 0) {
    return std::nullopt;
  }
  return *id;
}

std::string newRequestNonce() {
  std::string text = newUuidText();
  std::erase(text, '-');
  return text;
}
