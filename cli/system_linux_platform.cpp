#include "cli/linux_platform.h"
#include "platform/linux/system_ejector.h"

// A file of its own: a program that only lists volumes links none of the ejectors' D-Bus code.
#include <termios.h>
#include <unistd.h>

namespace {

// polkit's text agent turns the terminal's echo off while it asks for the password.
bool passwordPromptOpen() {
  termios terminal{};
  return isatty(STDIN_FILENO) != 0 && tcgetattr(STDIN_FILENO, &terminal) == 0 &&
         (terminal.c_lflag & ECHO) == 0;
}

std::unique_ptr<Ejector> systemEjector(std::shared_ptr<EjectProgress> progress) {
  SystemEjector::Options options;
  options.udisks.progress = std::move(progress);
  options.udisks.promptOpen = passwordPromptOpen;
  return std::make_unique<SystemEjector>(std::move(options));
}

} // namespace

LinuxPlatform::LinuxPlatform() : LinuxPlatform(systemEjector(nullptr)) {}

LinuxPlatform::LinuxPlatform(std::shared_ptr<EjectProgress> progress)
    : LinuxPlatform(systemEjector(std::move(progress))) {}
