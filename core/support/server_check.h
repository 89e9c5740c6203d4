#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/settings.h"

// The three fields of the server check's answer this program reads.
struct CheckAnswer {
  std::string ticketState;
  std::int64_t messageId = 0;
  std::string message;

  // The answer when "tk" is a string, "mid" an integer and "msg" a string; nothing otherwise.
  static std::optional<CheckAnswer> from(const nlohmann::json& object);
  // An id above 0 with a text: a message on offer.
  bool offersMessage() const { return messageId > 0 && !message.empty(); }
};

// The ids the user has been shown ("VEShownMessages", oldest first, at most 50) and the last
// one of them ("VEAckMessage"), which every check reports back.
class ShownMessages {
 public:
  static constexpr const char* listKey = setting_keys::shownMessages.name;
  static constexpr const char* acknowledgedKey = setting_keys::acknowledgedMessage.name;
  static constexpr std::size_t maxEntries = 50;

  // Empty when missing, not an array, or when any element is not an integer.
  static std::vector<std::int64_t> read(const SettingsStore& defaults);
  // Appends the id (even when listed already), keeps the last 50 and acknowledges it.
  static void record(SettingsStore& defaults, std::int64_t id);
  // The stored acknowledgement when it is an integer above 0.
  static std::optional<std::int64_t> acknowledged(const SettingsStore& defaults);
};

// A fresh random identifier for one request: 32 upper-case hexadecimal digits.
std::string newRequestNonce();
