// The Time Machine tool's status output, read for a running backup.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "fuzz/tmutil_engine.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto& rig = TmutilEngine::shared();
  rig.runner.output = std::string(fuzz_support::asText(data, size));
  (void)rig.engine->backupIsRunning();
  return 0;
}
