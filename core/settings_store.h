#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "core/settings_value.h"

// The user's persisted settings: one typed property-list file, shared by every thread
// and every process of the program.
//
// Each write rewrites the whole file atomically (temporary file in the same folder,
// flushed, renamed over the old one), so a crash leaves either the old or the new file.
// A file that cannot be parsed reads as empty and is kept aside under a ".corrupt-<time>"
// name before the next write replaces it. Other processes' writes are picked up on the
// next read; writers take a lock file beside the settings file so none loses another's change.
//
// Dates are kept to the whole second, as the file stores them, between 1933 and 2069.
class SettingsStore {
 public:
  // Where the program's settings live: $XDG_CONFIG_HOME/VarneloEject/defaults.plist
  // (~/.config when unset). Each program opens one store there and hands it on.
  static std::filesystem::path defaultFile();
  // A larger file is taken as damaged: it reads as empty and is kept aside at the next write.
  static constexpr std::uint64_t maxFileBytes = 4 * 1024 * 1024;

  explicit SettingsStore(std::filesystem::path file);
  ~SettingsStore();
  SettingsStore(const SettingsStore&) = delete;
  SettingsStore& operator=(const SettingsStore&) = delete;

  const std::filesystem::path& file() const { return file_; }

  // The value stored under the key, typed as it was stored.
  std::optional<SettingsValue> object(const std::string& key) const;
  std::optional<std::string> string(const std::string& key) const;
  // The usual user-defaults Boolean reading: a Boolean as is, a number non-zero, a text
  // "YES"/"true" (any case) or a non-zero number; anything else and absence read false.
  bool boolean(const std::string& key) const;

  // Returns false when the file could not be written; the value is kept in memory anyway.
  bool set(const std::string& key, SettingsValue value);
  bool remove(const std::string& key);

 private:
  struct FileStamp {
    bool exists = false;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t modifiedNanoseconds = 0;
    std::int64_t changedNanoseconds = 0;
    friend bool operator==(const FileStamp&, const FileStamp&) = default;
  };
  struct Document;

  void reloadIfChangedLocked() const;
  bool writeLocked();
  bool keepCorruptFileAsideLocked();
  // Applies one change under the cross-process lock, then writes.
  template <typename Change> bool modify(Change change);

  std::filesystem::path file_;
  mutable std::mutex mutex_;
  // The loaded property list; entries of types this program does not use are kept as they are.
  std::unique_ptr<Document> document_;
  mutable std::optional<FileStamp> loadedStamp_;
  // Kept open so that the loaded file's inode cannot be reused by a later file while we
  // still compare against it.
  mutable int loadedDescriptor_ = -1;
  mutable bool corrupt_ = false;
};
