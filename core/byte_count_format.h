#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

// How byte counts are written for the user: unit texts in their language, the decimal separator
// of their locale.
struct ByteCountStyle {
  std::string decimalSeparator = ".";
  // Each with one {} for the number.
  std::string oneByte = "{} byte";
  std::string bytes = "{} bytes";
  std::array<std::string, 6> units{"{} KB", "{} MB", "{} GB", "{} TB", "{} PB", "{} EB"};

  // Units from the localisation tables; the separator of the numeric locale (LC_ALL,
  // LC_NUMERIC, LANG), or the language's own when the system lacks that locale.
  static ByteCountStyle current();
};

// A byte count for display, in decimal units as file sizes are shown: "512 bytes", "1 byte",
// "340 KB", "1.5 MB", "15.98 GB", "16 GB"; in French "26,5 Mo".
std::string formatByteCount(std::int64_t bytes, const ByteCountStyle& style);
std::string formatByteCount(std::int64_t bytes);

// The decimal separator of a locale the system has ("fr_FR.UTF-8" gives ","); nothing when the
// system does not have it.
std::optional<std::string> decimalSeparatorOfLocale(const std::string& localeName);
