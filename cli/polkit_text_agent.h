#pragma once

#include <memory>

// polkit's text authentication agent for this process, as udisksctl has: when udisks2 needs
// the user's password, it is asked for on the controlling terminal. The agent's library (and
// GLib with it) is loaded only here, so that commands that eject nothing never load it.
class PolkitTextAgent {
 public:
  // Registers the agent when standard input is a terminal and the user is not root (root is
  // never asked); nothing when that is not so or the library or polkit refuses.
  static std::unique_ptr<PolkitTextAgent> startForTerminal();

  ~PolkitTextAgent();
  PolkitTextAgent(const PolkitTextAgent&) = delete;
  PolkitTextAgent& operator=(const PolkitTextAgent&) = delete;

 private:
  struct Library;
  PolkitTextAgent(std::shared_ptr<Library> library, void* listener, void* registration);

  std::shared_ptr<Library> library_;
  void* listener_;
  void* registration_;
};
