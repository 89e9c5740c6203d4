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
  // Implicit, so that a value is written as it is: set("VEKey", true).
  // NOLINTBEGIN(google-explicit-constructor)
  SettingsValue(bool value) : storage_(value) {}
  SettingsValue(int value) : storage_(std::int64_t{value}) {}
  SettingsValue(std::int64_t value) : storage_(value) {}
  SettingsValue(double value) : storage_(value) {}
  SettingsValue(std::string value) : storage_(std::move(value)) {}
  SettingsValue(const char* value) : storage_(std::string(value)) {}
  SettingsValue(Date value) : storage_(value) {}
  SettingsValue(Array value) : storage_(std::move(value)) {}
  SettingsValue(Dictionary value) : storage_(std::move(value)) {}
  // NOLINTEND(google-explicit-constructor)

  template <typename T> bool is() const { return std::holds_alternative<T>(storage_); }
  // The value when it holds a T, else null.
  template <typename T> const T* as() const { return std::get_if<T>(&storage_); }

  const Storage& storage() const { return storage_; }

  friend bool operator==(const SettingsValue&, const SettingsValue&) = default;

 private:
  Storage storage_;
};
