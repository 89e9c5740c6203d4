// The Time Machine tool's destinations list, a property list in any of its encodings.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "fuzz/tmutil_engine.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto& rig = TmutilEngine::shared();
  rig.runner.output = std::string(fuzz_support::asText(data, size));
  const auto mountPoints = rig.engine->timeMachineMountPoints();
  for (const auto& mountPoint : mountPoints) {
    if (mountPoint.empty()) {
      fuzz_support::fail("an empty mount point was taken for a backup destination");
    }
    (void)rig.engine->isTimeMachine(mountPoint, mountPoints);
  }
  return 0;
}
