#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/process_runner.h"

// A child process that prints what the test wrote for its argument list. An argument list
// the test did not script prints nothing.
class FakeProcessRunner : public ProcessRunner {
 public:
  struct Run {
    std::string executable;
    std::vector<std::string> arguments;
  };

  void setOutput(std::vector<std::string> arguments, std::string output);
  // While set, no process can be started.
  void setFailsToStart(bool fails);

  int runCount() const;
  // How many runs had exactly these arguments.
  int runCount(const std::vector<std::string>& arguments) const;
  std::vector<Run> runs() const;

  std::optional<std::string> run(const std::string& executable,
                                 const std::vector<std::string>& arguments) override;

 private:
  mutable std::mutex mutex_;
  std::map<std::vector<std::string>, std::string> outputs_;
  bool failsToStart_ = false;
  std::vector<Run> runs_;
};
