#include "platform/fake/fake_process_runner.h"

#include <algorithm>

void FakeProcessRunner::setOutput(std::vector<std::string> arguments, std::string output) {
  std::lock_guard lock(mutex_);
  outputs_[std::move(arguments)] = std::move(output);
}

void FakeProcessRunner::setFailsToStart(bool fails) {
  std::lock_guard lock(mutex_);
  failsToStart_ = fails;
}

int FakeProcessRunner::runCount() const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(runs_.size());
}

int FakeProcessRunner::runCount(const std::vector<std::string>& arguments) const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(std::count_if(
      runs_.begin(), runs_.end(), [&](const Run& run) { return run.arguments == arguments; }));
}

std::vector<FakeProcessRunner::Run> FakeProcessRunner::runs() const {
  std::lock_guard lock(mutex_);
  return runs_;
}

std::optional<std::string> FakeProcessRunner::run(const std::string& executable,
                                                  const std::vector<std::string>& arguments) {
  std::lock_guard lock(mutex_);
  runs_.push_back({executable, arguments});
  if (failsToStart_) {
    return std::nullopt;
  }
  const auto found = outputs_.find(arguments);
  return found == outputs_.end() ? std::string() : found->second;
}
