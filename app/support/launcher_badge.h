#pragma once

// The unread mark on the application's taskbar or dock entry. The desktop's launcher shows it;
// tests record it.
class LauncherBadge {
 public:
  virtual ~LauncherBadge() = default;

  // A count of 1 on the entry while something is unread, nothing otherwise.
  virtual void setUnread(bool unread) = 0;
};
