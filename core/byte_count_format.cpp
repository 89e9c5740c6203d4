#include "core/byte_count_format.h"

#include <array>
#include <cmath>

#include <fmt/format.h>

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

}  // namespace

std::string formatByteCount(std::int64_t bytes) {
  if (bytes == 1) {
    return "1 byte";
  }
  if (bytes < 1000) {
    return fmt::format("{} bytes", bytes);
  }
  // Larger units show more digits, as file sizes are usually shown.
  struct Unit {
    const char* name;
    int decimals;
  };
  constexpr std::array<Unit, 6> units{
      {{"KB", 0}, {"MB", 1}, {"GB", 2}, {"TB", 2}, {"PB", 2}, {"EB", 2}}};
  double value = static_cast<double>(bytes);
  std::size_t index = 0;
  value /= 1000.0;
  while (index + 1 < units.size()) {
    // Move up when rounding would show 1000 of this unit.
    const double scale = std::pow(10.0, units[index].decimals);
    if (std::round(value * scale) / scale < 1000.0) {
      break;
    }
    value /= 1000.0;
    ++index;
  }
  const std::string number = fmt::format("{:.{}f}", value, units[index].decimals);
  return trimFraction(number) + " " + units[index].name;
}
