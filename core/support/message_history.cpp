#include "core/support/message_history.h"

#include <algorithm>
#include <chrono>

#include "core/settings_store.h"

std::string boundedMessageText(std::string_view text) {
  std::string bounded;
  bounded.reserve(std::min(text.size(), maxMessageBytes));
  for (const char character : text) {
    if (character != '\0') {
      bounded += character;
    }
  }
  if (bounded.size() > maxMessageBytes) {
    std::size_t end = maxMessageBytes;
    // Back to the start of the character the cut falls in.
    while (end > 0 && (static_cast<unsigned char>(bounded[end]) & 0xC0) == 0x80) {
      --end;
    }
    bounded.resize(end);
  }
  return bounded;
}

SettingsValue::Array MessageHistory::stored() const {
  const auto value = defaults_.object(key);
  const SettingsValue::Array* list = value ? value->as<SettingsValue::Array>() : nullptr;
  if (list == nullptr) {
    return {};
  }
  // One element of another kind makes the whole value unusable; the next write replaces it.
  for (const SettingsValue& element : *list) {
    if (!element.is<SettingsValue::Dictionary>()) {
      return {};
    }
  }
  return *list;
}

std::vector<ArchivedMessage> MessageHistory::entries(SettingsValue::Date now) const {
  const SettingsValue::Array list = stored();
  std::vector<ArchivedMessage> result;
  result.reserve(list.size());
  for (auto element = list.rbegin(); element != list.rend(); ++element) {
    const auto& entry = *element->as<SettingsValue::Dictionary>();
    const auto field = [&entry](const char* name) -> const SettingsValue* {
      const auto found = entry.find(name);
      return found != entry.end() ? &found->second : nullptr;
    };
    const SettingsValue* id = field("id");
    const SettingsValue* body = field("body");
    if (id == nullptr || !id->is<std::int64_t>() || body == nullptr || !body->is<std::string>()) {
      continue;
    }
    const SettingsValue* date = field("date");
    const SettingsValue* mine = field("mine");
    result.push_back(ArchivedMessage{
        .id = *id->as<std::int64_t>(),
        .body = *body->as<std::string>(),
        .date = date != nullptr && date->is<SettingsValue::Date>()
                    ? *date->as<SettingsValue::Date>()
                    : now,
        .mine = mine != nullptr && mine->is<bool>() && *mine->as<bool>(),
        .sent = field("unsent") == nullptr || *field("unsent") != SettingsValue(true),
    });
  }
  return result;
}

void MessageHistory::archive(std::int64_t id, const std::string& body, SettingsValue::Date now) {
  SettingsValue::Array list = stored();
  for (const SettingsValue& element : list) {
    const auto& entry = *element.as<SettingsValue::Dictionary>();
    const auto stored = entry.find("id");
    if (stored != entry.end() && stored->second == SettingsValue(id)) {
      return;
    }
  }
  append(std::move(list),
         {{"id", id}, {"body", boundedMessageText(body)}, {"date", now}, {"mine", false}});
}

void MessageHistory::archiveOwn(const std::string& text, SettingsValue::Date now) {
  // Whole seconds, cut toward zero, negated: never equal to a maker's id, which is positive.
  const auto seconds =
      std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count();
  append(stored(), {{"id", std::int64_t{-seconds}},
                    {"body", boundedMessageText(text)},
                    {"date", now},
                    {"mine", true}});
}

void MessageHistory::markSent(std::int64_t id, const std::string& body, bool sent) {
  SettingsValue::Array list = stored();
  const SettingsValue kept(boundedMessageText(body));
  for (auto element = list.rbegin(); element != list.rend(); ++element) {
    SettingsValue::Dictionary entry = *element->as<SettingsValue::Dictionary>();
    const auto storedId = entry.find("id");
    const auto storedBody = entry.find("body");
    if (storedId == entry.end() || storedId->second != SettingsValue(id) ||
        storedBody == entry.end() || storedBody->second != kept) {
      continue;
    }
    if (sent) {
      entry.erase("unsent");
    } else {
      entry["unsent"] = true;
    }
    *element = SettingsValue(std::move(entry));
    defaults_.set(key, std::move(list));
    return;
  }
}

void MessageHistory::append(SettingsValue::Array list, SettingsValue::Dictionary entry) {
  list.emplace_back(std::move(entry));
  if (list.size() > maxEntries) {
    list.erase(list.begin(), list.end() - static_cast<std::ptrdiff_t>(maxEntries));
  }
  defaults_.set(key, std::move(list));
}
