#include "core/localization.h"

#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <memory>
#include <optional>
#include <sstream>
#include <system_error>

#include <nlohmann/json.hpp>

#include "build_config.h"

namespace {

using Table = std::map<std::string, std::string, std::less<>>;

std::optional<Table> readTable(const std::filesystem::path& file) {
  // Plain stdio: a read error (a folder in the table's place) is a result here, not an exception.
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> stream(std::fopen(file.c_str(), "rb"),
                                                         &std::fclose);
  if (!stream) {
    return std::nullopt;
  }
  std::string contents;
  char buffer[8192];
  std::size_t count = 0;
  while ((count = std::fread(buffer, 1, sizeof buffer, stream.get())) > 0) {
    contents.append(buffer, count);
  }
  if (std::ferror(stream.get()) != 0) {
    return std::nullopt;
  }
  const auto json = nlohmann::json::parse(contents, nullptr, /*allow_exceptions=*/false);
  if (json.is_discarded() || !json.is_object()) {
    return std::nullopt;
  }
  Table table;
  for (const auto& [key, value] : json.items()) {
    if (value.is_string()) {
      table.emplace(key, value.get<std::string>());
    }
  }
  return table;
}

bool isFile(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(path, error);
}

// "fr_FR.UTF-8@euro" gives "fr_FR" then "fr"; "C" and "POSIX" mean English.
void appendLanguages(std::string_view entry, std::vector<std::string>& languages) {
  entry = entry.substr(0, entry.find_first_of(".@"));
  if (entry.empty()) {
    return;
  }
  std::vector<std::string> candidates;
  if (entry == "C" || entry == "POSIX") {
    candidates.emplace_back("en");
  } else {
    candidates.emplace_back(entry);
    if (const auto separator = entry.find_first_of("_-"); separator != std::string_view::npos) {
      candidates.emplace_back(entry.substr(0, separator));
    }
  }
  for (auto& candidate : candidates) {
    if (std::find(languages.begin(), languages.end(), candidate) == languages.end()) {
      languages.push_back(std::move(candidate));
    }
  }
}

std::string environmentValue(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

} // namespace

Localizer::Localizer(const std::vector<std::filesystem::path>& searchFolders,
                     std::vector<std::string> languages) {
  if (std::find(languages.begin(), languages.end(), "en") == languages.end()) {
    languages.emplace_back("en");
  }
  // One folder supplies every table, so a stale installed copy never mixes with the build tree's.
  for (const auto& folder : searchFolders) {
    const bool holdsATable =
        std::any_of(languages.begin(), languages.end(),
                    [&](const auto& language) { return isFile(folder / (language + ".json")); });
    if (!holdsATable) {
      continue;
    }
    for (const auto& language : languages) {
      if (auto table = readTable(folder / (language + ".json"))) {
        tables_.push_back(std::move(*table));
      }
    }
    break;
  }
}

Localizer& Localizer::shared() {
  // Never destroyed: texts may still be looked up while the process exits.
  static Localizer* const localizer =
      new Localizer(defaultSearchFolders(), languagesFromEnvironment());
  return *localizer;
}

std::vector<std::filesystem::path> Localizer::defaultSearchFolders() {
  std::vector<std::filesystem::path> folders;
  std::error_code error;
  const auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
  if (!error) {
    const auto folder = executable.parent_path();
    folders.push_back(folder / "l10n");
    folders.push_back((folder / ".." / "share" / "varnelo-eject" / "l10n").lexically_normal());
    // The desktop program, under libexec/varnelo-eject.
    folders.push_back(
        (folder / ".." / ".." / "share" / "varnelo-eject" / "l10n").lexically_normal());
  }
  folders.push_back(std::filesystem::path(build_config::installedDataFolder) / "l10n");
  return folders;
}

std::string Localizer::lookup(std::string_view key) const {
  for (const auto& table : tables_) {
    if (const auto found = table.find(key); found != table.end()) {
      return found->second;
    }
  }
  return std::string(key);
}

std::vector<std::string> Localizer::languagesFromEnvironment() {
  std::vector<std::string> languages;
  std::stringstream list(environmentValue("LANGUAGE"));
  for (std::string entry; std::getline(list, entry, ':');) {
    appendLanguages(entry, languages);
  }
  // The locale names one language: the first of these that is set decides.
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    if (const std::string value = environmentValue(name); !value.empty()) {
      appendLanguages(value, languages);
      break;
    }
  }
  return languages;
}

std::string Localizer::formatWith(const std::string& text, const ArgumentStore& store) {
  try {
    return fmt::vformat(text, store);
  } catch (const fmt::format_error&) {
    // A translation with a broken placeholder still says something useful unformatted.
    return text;
  }
}
