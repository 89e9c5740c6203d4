#include "app/cli/linux_platform.h"
#include "platform/linux/system_ejector.h"

// A file of its own: a program that only lists volumes links none of the ejectors' D-Bus code.
LinuxPlatform::LinuxPlatform() : LinuxPlatform(std::make_unique<SystemEjector>()) {}
