#include "platform/fake/fake_ejector.h"

void FakeEjector::setOutcome(const std::string& mountPath, EjectOutcome outcome) {
  std::lock_guard lock(mutex_);
  outcomes_[mountPath] = std::move(outcome);
}

void FakeEjector::setFailure(const std::string& mountPath, std::string errorText) {
  EjectOutcome outcome;
  outcome.failure = EjectFailure::busy;
  outcome.errorText = std::move(errorText);
  setOutcome(mountPath, std::move(outcome));
}

void FakeEjector::setOnEject(std::function<void(const std::string&)> onEject) {
  std::lock_guard lock(mutex_);
  onEject_ = std::move(onEject);
}

std::vector<FakeEjector::Call> FakeEjector::calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

std::vector<std::string> FakeEjector::ejectedPaths() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> paths;
  for (const auto& call : calls_) {
    paths.push_back(call.target.mountPaths.empty() ? std::string()
                                                   : call.target.mountPaths.front());
  }
  return paths;
}

EjectOutcome FakeEjector::eject(const EjectTarget& target) {
  const std::string mountPath =
      target.mountPaths.empty() ? std::string() : target.mountPaths.front();
  std::function<void(const std::string&)> onEject;
  EjectOutcome outcome;
  outcome.success = true;
  {
    std::lock_guard lock(mutex_);
    calls_.push_back({target, std::this_thread::get_id()});
    onEject = onEject_;
    const auto found = outcomes_.find(mountPath);
    if (found != outcomes_.end()) {
      outcome = found->second;
    }
  }
  // Outside the lock, so the hook may ask this fake questions.
  if (onEject) {
    onEject(mountPath);
  }
  return outcome;
}
