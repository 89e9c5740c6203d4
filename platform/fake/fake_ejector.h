#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/ejector.h"

// Ejects by script: every volume succeeds unless the test scripted another outcome for it.
// Volumes are named by their first mount path. Remembers, in order, what it was asked to
// eject and on which thread.
class FakeEjector : public Ejector {
 public:
  struct Call {
    EjectTarget target;
    std::thread::id thread;
  };

  void setOutcome(const std::string& mountPath, EjectOutcome outcome);
  // A busy volume.
  void setFailure(const std::string& mountPath, std::string errorText = "Resource busy");
  // Runs inside each eject, before it answers (to unmount the fake volume, say).
  void setOnEject(std::function<void(const std::string&)> onEject);

  std::vector<Call> calls() const;
  std::vector<std::string> ejectedPaths() const;

  EjectOutcome eject(const EjectTarget& target) override;

 private:
  mutable std::mutex mutex_;
  std::map<std::string, EjectOutcome> outcomes_;
  std::function<void(const std::string&)> onEject_;
  std::vector<Call> calls_;
};
