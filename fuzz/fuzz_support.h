#pragma once

#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "tests/core/test_files.h"

// What every fuzz target shares with the tests: their file helpers and rigs, and a scratch
// folder for the files a parser reads, under $VARNELO_FUZZ_SCRATCH (the fuzz runner puts it in
// memory: millions of small files on a busy disk would make the disk the bottleneck).
namespace fuzz_support {

inline const std::filesystem::path& scratchFolder() {
  static const std::filesystem::path* const folder = [] { // never destroyed: used at exit
    const char* chosen = std::getenv("VARNELO_FUZZ_SCRATCH");
    std::string pattern =
        ((chosen != nullptr && *chosen) ? std::filesystem::path(chosen)
                                        : std::filesystem::temp_directory_path()) /
        "varnelo-fuzz-XXXXXX";
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
  const auto folder = scratchFolder() / name;
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  std::filesystem::create_directories(folder, ignored);
  return folder;
}

inline std::string asText(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// A property the target checks has failed: stop, so that the fuzzer keeps the input.
[[noreturn]] inline void fail(const char* what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

} // namespace fuzz_support
