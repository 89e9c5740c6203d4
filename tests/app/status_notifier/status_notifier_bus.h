#pragma once

#include <string>

// Set up by the test main; empty when the bus and its watcher run.
struct StatusNotifierBus {
  static std::string skipReason;
};
