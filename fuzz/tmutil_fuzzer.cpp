// The Time Machine tool's outputs, through the engine the tests use: its destinations list (a
// property list in any of its encodings) and its status, read for a running backup.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "fuzz/fuzz_support.h"
#include "tests/core/eject_engine_rig.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static EngineRig rig;
  static const std::unique_ptr<EjectEngine> engine = rig.makeEngine();
  rig.runner.setOutput({"destinationinfo", "-X"}, fuzz_support::asText(data, size));
  rig.runner.setOutput({"status"}, fuzz_support::asText(data, size));
  const auto mountPoints = engine->backups().timeMachineMountPoints();
  for (const auto& mountPoint : mountPoints) {
    if (mountPoint.empty()) {
      fuzz_support::fail("an empty mount point was taken for a backup destination");
    }
    (void)engine->backups().isTimeMachine(mountPoint, mountPoints);
  }
  (void)engine->backups().backupIsRunning();
  return 0;
}
