#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/desktop_notifier.h"

// Remembers every notification instead of showing it.
class FakeDesktopNotifier : public DesktopNotifier {
 public:
  struct Notification {
    std::string summary;
    std::string body;
  };

  void notify(const std::string& summary, const std::string& body) override {
    std::lock_guard lock(mutex_);
    shown_.push_back({summary, body});
  }

  std::vector<Notification> shown() const {
    std::lock_guard lock(mutex_);
    return shown_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<Notification> shown_;
};
