#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "platform/login_item.h"

// The login item as a desktop entry in the user's XDG autostart folder, which every desktop
// following the freedesktop.org autostart rules (GNOME, KDE, Xfce, LXQt, ...) starts at login.
// Only our own file is ever written or removed.
class XdgAutostartLoginItem : public LoginItem {
 public:
  using Environment = std::function<std::optional<std::string>(const std::string&)>;

  struct Entry {
    std::string name;       // shown by the desktop's autostart settings
    std::string executable; // absolute path of the program to start
    std::string icon;       // icon theme name
  };

  static constexpr const char* entryFileName = "varnelo-eject.desktop";

  XdgAutostartLoginItem(std::filesystem::path autostartFolder, Entry entry);

  // $XDG_CONFIG_HOME/autostart when that is an absolute path, else ~/.config/autostart.
  // getenv when no environment is given.
  static std::filesystem::path standardFolder(const Environment& environment = {});
  // The command that started the running program (VARNELO_EJECT_COMMAND, set by the
  // varnelo-eject command), else the running program's own path, without the mark the kernel
  // adds once the file has been replaced; empty when it cannot be read.
  static std::string runningExecutable();

  LoginItemStatus status() override;
  LoginItemOutcome registerItem() override;
  LoginItemOutcome unregisterItem() override;

  std::filesystem::path entryPath() const { return folder_ / entryFileName; }
  // The file registerItem() writes.
  std::string entryText() const;
  // The program path as one argument of an Exec key, quoted and escaped as desktop entries
  // require.
  static std::string execArgument(const std::string& path);

 private:
  std::filesystem::path folder_;
  Entry entry_;
};
