#pragma once

#include <stdlib.h>

#include <optional>
#include <string>

// Sets (or, with a null value, removes) one environment variable for the life of the object.
class EnvironmentVariable {
 public:
  EnvironmentVariable(const char* name, const char* value) : name_(name) {
    if (const char* old = ::getenv(name)) {
      old_ = old;
    }
    value != nullptr ? ::setenv(name, value, 1) : ::unsetenv(name);
  }
  ~EnvironmentVariable() { old_ ? ::setenv(name_, old_->c_str(), 1) : ::unsetenv(name_); }
  EnvironmentVariable(const EnvironmentVariable&) = delete;
  EnvironmentVariable& operator=(const EnvironmentVariable&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};
