#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <system_error>

// What every fuzz target shares: a scratch folder of its own for the files a parser reads,
// removed when the process ends normally. Under $VARNELO_FUZZ_SCRATCH, else in memory
// (/dev/shm) where there is one: millions of small files written on a busy disk would make the
// disk the bottleneck, not the parser.
namespace fuzz_support {

inline const std::filesystem::path& scratchFolder() {
  // Never destroyed: the exit-time removal below runs after static objects are gone.
  static const std::filesystem::path* const folder = [] {
    std::filesystem::path base = std::filesystem::temp_directory_path();
    if (const char* chosen = std::getenv("VARNELO_FUZZ_SCRATCH"); chosen != nullptr && *chosen) {
      base = chosen;
    } else if (::access("/dev/shm", W_OK) == 0) {
      base = "/dev/shm";
    }
    std::string pattern = (base / "varnelo-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      std::perror("mkdtemp");
      std::abort();
    }
    // libFuzzer may end without running exit-time code; its runner removes what is left.
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(scratchFolder(), ignored);
    });
    return new std::filesystem::path(pattern);
  }();
  return *folder;
}

// A folder inside the scratch folder, emptied first.
inline std::filesystem::path freshFolder(const std::string& name) {
  auto folder = scratchFolder() / name;
  std::error_code error;
  if (!std::filesystem::create_directories(folder, error)) {
    for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
      std::error_code ignored;
      std::filesystem::remove_all(entry->path(), ignored);
    }
  }
  return folder;
}

inline void writeFile(const std::filesystem::path& path, std::string_view bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string_view asText(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// A property the target checks has failed: stop, so that the fuzzer keeps the input.
[[noreturn]] inline void fail(const char* what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

} // namespace fuzz_support
