#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/process_runner.h"

// A child process that prints what the test wrote for its argument list (nothing for a list
// it did not script). Runs are counted per list, so a fuzzer's millions of runs stay small.
class FakeProcessRunner : public ProcessRunner {
 public:
  void setOutput(std::vector<std::string> arguments, std::string output) {
    std::lock_guard lock(mutex_);
    outputs_[std::move(arguments)] = std::move(output);
  }
  // While set, no process can be started.
  void setFailsToStart(bool fails) {
    std::lock_guard lock(mutex_);
    failsToStart_ = fails;
  }
  int runCount(const std::vector<std::string>& arguments) const {
    std::lock_guard lock(mutex_);
    const auto found = runs_.find(arguments);
    return found == runs_.end() ? 0 : found->second;
  }

  std::optional<std::string> run(const std::string&,
                                 const std::vector<std::string>& arguments) override {
    std::lock_guard lock(mutex_);
    ++runs_[arguments];
    if (failsToStart_) {
      return std::nullopt;
    }
    const auto found = outputs_.find(arguments);
    return found == outputs_.end() ? std::string() : found->second;
  }

 private:
  mutable std::mutex mutex_;
  std::map<std::vector<std::string>, std::string> outputs_;
  std::map<std::vector<std::string>, int> runs_;
  bool failsToStart_ = false;
};
