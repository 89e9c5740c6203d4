#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "tests/core/test_files.h"
#include "tests/support/temporary_folder.h"

// What every fuzz target shares with the tests: their file helpers and rigs. Scratch files go
// under $TMPDIR, which the fuzz runner puts in memory: millions of small files on a busy disk
// would make the disk the bottleneck.
namespace fuzz_support {

// A folder inside this run's scratch folder, emptied first.
inline std::filesystem::path freshFolder(const std::string& name) {
  static const TemporaryFolder scratch;
  auto folder = scratch / name;
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
