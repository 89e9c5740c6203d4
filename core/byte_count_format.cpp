#include "core/byte_count_format.h"

#include <langinfo.h>
#include <locale.h>

#include <cmath>
#include <cstdlib>
#include <mutex>
#include <utility>

#include <fmt/format.h>

#include "core/localization.h"

namespace {

// Drops trailing zeros of a fixed-point text, and the point when nothing is left after it.
std::string trimFraction(std::string text) {
  if (text.find('.') == std::string::npos) {
    return text;
  }
  while (!text.empty() && text.back() == '0') {
    text.pop_back();
  }
  if (!text.empty() && text.back() == '.') {
    text.pop_back();
  }
  return text;
}

std::string withNumber(const std::string& format, const std::string& number) {
  const auto placeholder = format.find("{}");
  if (placeholder == std::string::npos) {
    return number + " " + format;
  }
  return format.substr(0, placeholder) + number + format.substr(placeholder + 2);
}

// The locale that decides how numbers are written, by the POSIX order of precedence.
std::string numericLocaleName() {
  for (const char* name : {"LC_ALL", "LC_NUMERIC", "LANG"}) {
    if (const char* value = std::getenv(name); value != nullptr && *value != '\0') {
      return value;
    }
  }
  return {};
}

} // namespace

std::optional<std::string> decimalSeparatorOfLocale(const std::string& localeName) {
  if (localeName.empty()) {
    return std::nullopt;
  }
  // Loading a locale reads files, and a listing formats one size per volume.
  static std::mutex mutex;
  static std::optional<std::pair<std::string, std::optional<std::string>>> lastAnswer;
  const std::lock_guard lock(mutex);
  if (lastAnswer && lastAnswer->first == localeName) {
    return lastAnswer->second;
  }
  // Asked without changing the process's own locale, which stays "C" for the command line.
  std::optional<std::string> separator;
  if (const locale_t locale = newlocale(LC_NUMERIC_MASK, localeName.c_str(), nullptr)) {
    if (std::string text = nl_langinfo_l(RADIXCHAR, locale); !text.empty()) {
      separator = std::move(text);
    }
    freelocale(locale);
  }
  lastAnswer.emplace(localeName, separator);
  return separator;
}

ByteCountStyle ByteCountStyle::current() {
  ByteCountStyle style;
  if (const auto separator = decimalSeparatorOfLocale(numericLocaleName())) {
    style.decimalSeparator = *separator;
  } else if (std::string table = L("size.decimal_separator"); table != "size.decimal_separator") {
    style.decimalSeparator = std::move(table);
  }
  // Without tables, the lookup gives the key back: the English defaults stay then.
  const auto lookUp = [](const char* key, std::string& text) {
    if (std::string found = L(key); found != key) {
      text = std::move(found);
    }
  };
  lookUp("size.byte_one", style.oneByte);
  lookUp("size.bytes_other", style.bytes);
  const char* unitKeys[] = {"size.kilobytes", "size.megabytes", "size.gigabytes",
                            "size.terabytes", "size.petabytes", "size.exabytes"};
  for (std::size_t index = 0; index < style.units.size(); ++index) {
    lookUp(unitKeys[index], style.units[index]);
  }
  return style;
}

std::string formatByteCount(std::int64_t bytes) {
  return formatByteCount(bytes, ByteCountStyle::current());
}

std::string formatByteCount(std::int64_t bytes, const ByteCountStyle& style) {
  if (bytes == 1) {
    return withNumber(style.oneByte, "1");
  }
  if (bytes < 1000) {
    return withNumber(style.bytes, std::to_string(bytes));
  }
  // Larger units show more digits, as file sizes are usually shown.
  constexpr std::array<int, 6> decimals{0, 1, 2, 2, 2, 2};
  double value = static_cast<double>(bytes);
  std::size_t index = 0;
  value /= 1000.0;
  while (index + 1 < decimals.size()) {
    // Move up when rounding would show 1000 of this unit.
    const double scale = std::pow(10.0, decimals[index]);
    if (std::round(value * scale) / scale < 1000.0) {
      break;
    }
    value /= 1000.0;
    ++index;
  }
  std::string number = trimFraction(fmt::format("{:.{}f}", value, decimals[index]));
  if (const auto point = number.find('.'); point != std::string::npos) {
    number.replace(point, 1, style.decimalSeparator);
  }
  return withNumber(style.units[index], number);
}
