#include "app/cli/linux_platform.h"

#include "platform/linux/system_ejector.h"

// udisks2 on the system bus, or for root the direct unmount; chosen at each ejection.
LinuxPlatform::LinuxPlatform() : ejector_(std::make_unique<SystemEjector>()) {}

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
    engine_ = std::make_unique<EjectEngine>(EnginePlatform{
        .volumeSource = volumeSource_,
        .diskDescriber = diskDescriber_,
        .processRunner = processRunner_,
        .ejector = authorisationWatch_,
        .dispatcher = dispatcher_,
        .volumeMonitor = watchVolumes ? &volumeMonitor_ : nullptr,
        .timeMachineTool = "/usr/bin/tmutil",
        .environment = {},
    });
  }
  return *engine_;
}
