#include "app/cli/linux_platform.h"

namespace {

// Stands in until a real ejector is set: listing needs none.
class NoEjector : public Ejector {
 public:
  EjectOutcome unmountAndEject(const std::string&) override {
    return {false, "this program was built without an ejector"};
  }
};

} // namespace

LinuxPlatform::LinuxPlatform() : ejector_(std::make_unique<NoEjector>()) {}

LinuxPlatform::~LinuxPlatform() {
  engine_.reset();
}

void LinuxPlatform::setEjector(std::unique_ptr<Ejector> ejector) {
  if (!engine_ && ejector) {
    ejector_ = std::move(ejector);
  }
}

EjectEngine& LinuxPlatform::engine(bool watchVolumes) {
  if (!engine_) {
    engine_ = std::make_unique<EjectEngine>(EnginePlatform{
        .volumeSource = volumeSource_,
        .diskDescriber = diskDescriber_,
        .processRunner = processRunner_,
        .ejector = *ejector_,
        .dispatcher = dispatcher_,
        .volumeMonitor = watchVolumes ? &volumeMonitor_ : nullptr,
        .timeMachineTool = "/usr/bin/tmutil",
        .environment = {},
    });
  }
  return *engine_;
}
