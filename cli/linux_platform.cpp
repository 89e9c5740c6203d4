#include "cli/linux_platform.h"

namespace {

class RefusingEjector : public Ejector {
 public:
  EjectOutcome eject(const EjectTarget&) override {
    EjectOutcome outcome;
    outcome.failure = EjectFailure::other;
    outcome.errorText = "this program does not eject";
    return outcome;
  }
};

} // namespace

LinuxPlatform::LinuxPlatform(std::unique_ptr<Ejector> ejector)
    : ejector_(ejector ? std::move(ejector) : std::make_unique<RefusingEjector>()) {}

LinuxPlatform::~LinuxPlatform() {
  engine_.reset();
}

void LinuxPlatform::setEjector(std::unique_ptr<Ejector> ejector) {
  if (!engine_ && ejector) {
    ejector_ = std::move(ejector);
    authorisationWatch_.setEjector(*ejector_);
  }
}

EjectEngine& LinuxPlatform::engine(bool watchVolumes) {
  if (!engine_) {
    engine_ = std::make_unique<EjectEngine>(
        EnginePlatform{
            .volumeSource = volumeSource_,
            .diskDescriber = diskDescriber_,
            .processRunner = processRunner_,
            .ejector = authorisationWatch_,
            .dispatcher = dispatcher_,
            .volumeMonitor = watchVolumes ? &volumeMonitor_ : nullptr,
            .timeMachineTool = "/usr/bin/tmutil",
            .environment = {},
        },
        settings_);
  }
  return *engine_;
}
