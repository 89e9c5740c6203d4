// Runs a fuzz target's entry point over saved inputs, without libFuzzer: the seed corpus and
// every input that once broke a parser are replayed by the ordinary test suite this way.
// Arguments are files or folders (their files, in name order); a missing folder is skipped.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <set>
#include <string>
#include <system_error>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
  std::set<std::filesystem::path> files; // in name order
  for (int index = 1; index < argc; ++index) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(argv[index], error)) {
      if (entry.is_regular_file()) {
        files.insert(entry.path());
      }
    }
    if (std::filesystem::is_regular_file(argv[index], error)) {
      files.insert(argv[index]);
    }
  }
  int failures = 0;
  for (const auto& file : files) {
    std::ifstream stream(file, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(stream), {}};
    failures += stream ? 0 : 1;
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  }
  std::cout << "replayed " << files.size() << " input(s), " << failures << " unreadable\n";
  return failures == 0 ? 0 : 1;
}
