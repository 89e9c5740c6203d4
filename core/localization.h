#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <fmt/args.h>
#include <fmt/format.h>

// The localisation tables: one flat JSON object per language, "<language>.json".
class Localizer {
 public:
  // Tables are read from the first folder that holds "en.json"; languages are tried in order,
  // then English, then the key itself.
  Localizer(std::vector<std::filesystem::path> searchFolders, std::vector<std::string> languages);

  // The process's localizer: tables next to the executable (build tree) or in the installed
  // data folder; languages from LANGUAGE, LC_ALL, LC_MESSAGES, LANG.
  static Localizer& shared();

  std::string lookup(std::string_view key) const;

  // The table text used as a format ({} or {0} placeholders). An argument is never read as a
  // format; a text that is malformed as a format comes back unformatted.
  template <typename... Arguments>
  std::string format(std::string_view key, const Arguments&... arguments) const {
    fmt::dynamic_format_arg_store<fmt::format_context> store;
    (store.push_back(arguments), ...);
    return formatWith(lookup(key), store);
  }

  // The user's languages in order of preference, from the environment ("fr_FR.UTF-8" gives
  // "fr_FR" then "fr").
  static std::vector<std::string> languagesFromEnvironment();

 private:
  static std::string formatWith(const std::string& text,
                                const fmt::dynamic_format_arg_store<fmt::format_context>& store);

  std::vector<std::map<std::string, std::string, std::less<>>> tables_;  // preferred first
};

inline std::string L(std::string_view key) { return Localizer::shared().lookup(key); }

template <typename... Arguments>
std::string L(std::string_view key, const Arguments&... arguments) {
  return Localizer::shared().format(key, arguments...);
}
