#pragma once

#include <cstddef>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include <fmt/args.h>
#include <fmt/format.h>

// The localisation tables: one flat JSON object per language, "<language>.json".
class Localizer {
 public:
  // Tables are read from the first search folder that holds a table for one of the languages
  // or for English. Languages are tried in order, then English, then the key itself.
  // A missing or malformed table is skipped, and so is any entry whose value is not a text.
  Localizer(const std::vector<std::filesystem::path>& searchFolders,
            std::vector<std::string> languages);

  // The process's localizer: tables next to the executable (build tree) or in the installed
  // data folder; languages from LANGUAGE, LC_ALL, LC_MESSAGES, LANG. Loaded once.
  static Localizer& shared();
  // Where the process's localizer looks for tables, in order.
  static std::vector<std::filesystem::path> defaultSearchFolders();

  std::string lookup(std::string_view key) const;

  // The table text used as a format ({} or {0} placeholders). An argument is never read as a
  // format; a text that is malformed as a format comes back unformatted.
  template <typename... Arguments>
  std::string format(std::string_view key, const Arguments&... arguments) const {
    fmt::dynamic_format_arg_store<fmt::format_context> store;
    (pushArgument(store, arguments), ...);
    return formatWith(lookup(key), store);
  }

  // The user's languages in order of preference, from the environment ("fr_FR.UTF-8" gives
  // "fr_FR" then "fr"; "C" and "POSIX" give "en"). English is not added at the end.
  static std::vector<std::string> languagesFromEnvironment();

 private:
  using ArgumentStore = fmt::dynamic_format_arg_store<fmt::format_context>;

  template <typename Argument>
  static void pushArgument(ArgumentStore& store, const Argument& argument) {
    // Texts are copied into the store, so temporaries and literals are safe to pass.
    if constexpr (std::is_convertible_v<const Argument&, std::string_view>) {
      store.push_back(std::string(std::string_view(argument)));
    } else {
      store.push_back(argument);
    }
  }

  static std::string formatWith(const std::string& text, const ArgumentStore& store);

  std::vector<std::map<std::string, std::string, std::less<>>> tables_; // preferred first
};

inline std::string L(std::string_view key) {
  return Localizer::shared().lookup(key);
}

template <typename... Arguments>
std::string L(std::string_view key, const Arguments&... arguments) {
  return Localizer::shared().format(key, arguments...);
}
