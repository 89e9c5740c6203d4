#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <variant>
#include <vector>

// One typed property-list value, as stored in the settings file.
class SettingsValue {
 public:
  using Date = std::chrono::system_clock::time_point;
  using Array = std::vector<SettingsValue>;
  using Dictionary = std::map<std::string, SettingsValue>;
  using Storage = std::variant<bool, std::int64_t, double, std::string, Date, Array, Dictionary>;

  SettingsValue() : storage_(false) {}
  SettingsValue(bool value) : storage_(value) {}                   // NOLINT(google-explicit-constructor)
  SettingsValue(int value) : storage_(std::int64_t{value}) {}      // NOLINT(google-explicit-constructor)
  SettingsValue(std::int64_t value) : storage_(value) {}           // NOLINT(google-explicit-constructor)
  SettingsValue(double value) : storage_(value) {}                 // NOLINT(google-explicit-constructor)
  SettingsValue(std::string value) : storage_(std::move(value)) {} // NOLINT(google-explicit-constructor)
  SettingsValue(const char* value) : storage_(std::string(value)) {}  // NOLINT(google-explicit-constructor)
  SettingsValue(Date value) : storage_(value) {}                   // NOLINT(google-explicit-constructor)
  SettingsValue(Array value) : storage_(std::move(value)) {}       // NOLINT(google-explicit-constructor)
  SettingsValue(Dictionary value) : storage_(std::move(value)) {}  // NOLINT(google-explicit-constructor)

  template <typename T>
  bool is() const {
    return std::holds_alternative<T>(storage_);
  }
  // The value when it holds a T, else null.
  template <typename T>
  const T* as() const {
    return std::get_if<T>(&storage_);
  }

  const Storage& storage() const { return storage_; }

  friend bool operator==(const SettingsValue&, const SettingsValue&) = default;

 private:
  Storage storage_;
};
