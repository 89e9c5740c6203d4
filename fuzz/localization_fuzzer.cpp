// The localisation tables: any bytes as a table file, and any text as a format with arguments.
#include <cstddef>
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "core/localization.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text = fuzz_support::asText(data, size);

  // The bytes as a whole table, preferred over an English one that is well formed.
  const auto tables = fuzz_support::freshFolder("tables");
  writeFile(tables / "fr.json", text);
  writeFile(tables / "en.json", R"({"k": "fallback {}", "app.name": "VarneloEject"})");
  {
    const Localizer localizer({tables}, {"fr"});
    (void)localizer.lookup("app.name");
    (void)localizer.format("k", "Disk", std::int64_t{3});
    (void)localizer.format("eject.retained", "{}%@{0}");
  }

  // The bytes as one entry's text, used as a format.
  const auto formats = fuzz_support::freshFolder("formats");
  const nlohmann::json table{{"k", text}};
  writeFile(formats / "en.json",
            table.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
  const Localizer localizer({formats}, {"en"});
  const std::string looked = localizer.lookup("k");
  (void)localizer.format("k", "Disk {0} %@", std::int64_t{-1}, 2.5, text);
  (void)localizer.format("k");
  // A text without braces is its own format, whatever the arguments.
  if (looked.find_first_of("{}") == std::string::npos &&
      localizer.format("k", "{}", std::int64_t{1}) != looked) {
    fuzz_support::fail("a text without placeholders changed when formatted");
  }
  return 0;
}
