// Runs a fuzz target's entry point over saved inputs, without libFuzzer: the ordinary test
// suite replays the seed corpus (the first folder) and every input that once broke a parser
// this way. No input at all, or one that cannot be read, fails the replay.
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
      files.insert(entry.path());
    }
  }
  for (const auto& file : files) {
    std::ifstream stream(file, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(stream), {}};
    if (!stream || !std::filesystem::is_regular_file(file)) {
      std::cerr << "cannot read " << file << "\n";
      return 1;
    }
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  }
  std::cout << "replayed " << files.size() << " input(s)\n";
  return files.empty() ? 1 : 0; // a corpus gone missing must not pass as replayed
}
