// Runs a fuzz target's entry point over saved inputs, without libFuzzer: the seed corpus and
// every input that once broke a parser are replayed by the ordinary test suite this way.
// Arguments are files or folders (their files, in name order); a missing folder is skipped.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

int replay(const std::filesystem::path& file) {
  std::ifstream stream(file, std::ios::binary);
  if (!stream) {
    std::cerr << "cannot read " << file << "\n";
    return 1;
  }
  const std::string bytes{std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
  LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  return 0;
}

} // namespace

int main(int argc, char** argv) {
  int failures = 0;
  int replayed = 0;
  for (int index = 1; index < argc; ++index) {
    const std::filesystem::path argument = argv[index];
    std::error_code error;
    if (std::filesystem::is_directory(argument, error)) {
      std::vector<std::filesystem::path> files;
      for (const auto& entry : std::filesystem::directory_iterator(argument, error)) {
        if (entry.is_regular_file()) {
          files.push_back(entry.path());
        }
      }
      std::sort(files.begin(), files.end());
      for (const auto& file : files) {
        failures += replay(file);
        ++replayed;
      }
    } else if (std::filesystem::exists(argument, error)) {
      failures += replay(argument);
      ++replayed;
    }
  }
  std::cout << "replayed " << replayed << " input(s)\n";
  return failures == 0 ? 0 : 1;
}
