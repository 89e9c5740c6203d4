#pragma once

#include <string>

// Shows a passing message on the desktop.
class DesktopNotifier {
 public:
  virtual ~DesktopNotifier() = default;

  // Synchronous with a short time limit, so best called off the main thread; does nothing
  // where the desktop has no notification service.
  virtual void notify(const std::string& summary, const std::string& body) = 0;
};
