#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/settings.h"
#include "core/settings_value.h"

// One entry of the conversation kept on this machine.
struct ArchivedMessage {
  // The server's id (> 0) for a message from the maker; minus the whole seconds since 1970 at
  // the time of writing for the user's own reply.
  std::int64_t id = 0;
  std::string body;
  SettingsValue::Date date;
  bool mine = false;
  // False for a reply of the user that did not reach the server (stored as "unsent": true).
  bool sent = true;
};

// No message this program shows or keeps is longer; a longer one is cut at a character.
constexpr std::size_t maxMessageBytes = 16 * 1024;

// The text as it is shown and kept: without NUL characters (the settings file cannot hold
// them), at most maxMessageBytes.
std::string boundedMessageText(std::string_view text);

// The conversation under "VEMessageHistory": dictionaries oldest first, at most 50, read and
// written whole on every access. Main thread only.
class MessageHistory {
 public:
  static constexpr const char* key = setting_keys::messageHistory.name;
  static constexpr std::size_t maxEntries = 50;

  explicit MessageHistory(SettingsStore& defaults) : defaults_(defaults) {}

  // Newest first. Entries without an integer id or a text body are left out (they stay
  // stored); a missing or non-date date reads as `now`, a missing or non-Boolean mine as false.
  std::vector<ArchivedMessage> entries(SettingsValue::Date now) const;
  // A maker's message, once per id: a second call for a stored id writes nothing.
  void archive(std::int64_t id, const std::string& body, SettingsValue::Date now);
  // The user's reply; replies in the same second share their id and are all kept.
  void archiveOwn(const std::string& text, SettingsValue::Date now);
  // Marks the newest reply with this id and text as not sent, or as sent again.
  void markSent(std::int64_t id, const std::string& body, bool sent);

 private:
  SettingsValue::Array stored() const;
  void append(SettingsValue::Array list, SettingsValue::Dictionary entry);

  SettingsStore& defaults_;
};
