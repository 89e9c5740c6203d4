#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// The maker's endpoints. They are compiled in scrambled (see cmake/CMakeLists.txt) and read
// back once, at first use; nothing at run time can change them.
class Endpoints {
 public:
  static const std::string& check();
  static const std::string& report();
  static const std::string& crash();

  // Each byte combined by exclusive-or with the mask byte at its position modulo the mask's
  // length, then read as UTF-8 with ill-formed sequences replaced by U+FFFD.
  static std::string unscramble(std::span<const std::uint8_t> bytes,
                                std::span<const std::uint8_t> mask);

  // An "http" or "https" address with a host: what the build accepts as an endpoint.
  static bool isUsableUrl(std::string_view text);
};
