#pragma once

#include <string>

// What the desktop will do with the program's own login item.
enum class LoginItemStatus {
  notRegistered, // no entry at all
  enabled,       // the program starts when the user logs in
  disabled,      // an entry exists but the desktop was told to skip it
};

struct LoginItemOutcome {
  bool success = false;
  // Why the change was refused, for the system log.
  std::string errorText;
};

// The program's own entry among the things the desktop starts at login.
class LoginItem {
 public:
  virtual ~LoginItem() = default;

  // Read afresh on every call: the user may change it in the desktop's own settings.
  virtual LoginItemStatus status() = 0;
  // Starts the program at the next login. Registering an existing entry enables it again.
  virtual LoginItemOutcome registerItem() = 0;
  // Stops it; removing an entry that is not there succeeds.
  virtual LoginItemOutcome unregisterItem() = 0;
};
