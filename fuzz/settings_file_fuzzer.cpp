// The settings file as found on disk: any bytes, read through the store, then written back.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/settings.h"
#include "core/settings_store.h"
#include "core/support/message_history.h"
#include "core/support/server_check.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text = fuzz_support::asText(data, size);
  const auto file = fuzz_support::freshFolder("settings") / "defaults.plist";
  writeFile(file, text);

  {
    SettingsStore store(file);
    const Settings settings(store);
    for (const SettingKey& key : setting_keys::all) {
      (void)store.object(key.name);
      (void)settings.text(key);
      (void)settings.boolean(key);
    }
    // The typed readers of what the support client keeps there.
    const auto now = std::chrono::system_clock::now();
    MessageHistory history(store);
    (void)history.entries(now);
    (void)ShownMessages::read(store);
    (void)ShownMessages::acknowledged(store);
    history.archive(7, "kept", now);
    // Entries of every type the file held are written back beside the new one.
    if (store.set("VEFuzzWritten", true)) {
      SettingsStore reread(file);
      if (!reread.boolean("VEFuzzWritten")) {
        fuzz_support::fail("a value written after reading the file is not read back");
      }
    }
  }

  // The colour setting's own parser takes the stored text as it is.
  (void)colorFromHex(text);
  return 0;
}
