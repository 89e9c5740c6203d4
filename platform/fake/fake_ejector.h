#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/ejector.h"

// Ejects by script: every path succeeds unless the test scripted a failure for it.
// Remembers which paths it was asked to eject, in order, and on which thread.
class FakeEjector : public Ejector {
 public:
  struct Call {
    std::string mountPath;
    std::thread::id thread;
  };

  void setOutcome(const std::string& mountPath, EjectOutcome outcome);
  void setFailure(const std::string& mountPath, std::string errorText = "Resource busy");
  // Runs inside each unmountAndEject, before it answers (to unmount the fake volume, say).
  void setOnEject(std::function<void(const std::string&)> onEject);

  std::vector<Call> calls() const;
  std::vector<std::string> ejectedPaths() const;

  EjectOutcome unmountAndEject(const std::string& mountPath) override;

 private:
  mutable std::mutex mutex_;
  std::map<std::string, EjectOutcome> outcomes_;
  std::function<void(const std::string&)> onEject_;
  std::vector<Call> calls_;
};
