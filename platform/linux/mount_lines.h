#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// One mount of the table, the fields we use, names unescaped: "36 35 8:17 / /media/x rw,nosuid
// shared:1 - vfat /dev/sdb1 rw" in mountinfo.
struct MountLine {
  std::uint64_t id = 0;
  dev_t number = 0;
  std::string root;
  std::string target;
  std::string mountOptions;
  std::string fsType;
  std::string source;
  std::string superOptions;
  bool operator==(const MountLine&) const = default;
};

// The table as a mountinfo file shows it, parsed by hand: libmount's parse of every line cost as
// much as the kernel's writing of it. The ids are the kernel's short ones, given again to later
// mounts.
class MountInfoFile {
 public:
  explicit MountInfoFile(std::filesystem::path path) : path_(std::move(path)) {}

  // The mounts in table order, valid until the next reading; nothing when the file cannot be read.
  const std::vector<const MountLine*>* read();

 private:
  std::filesystem::path path_;
  std::string text_;             // kept: no new buffer for every reading
  std::vector<MountLine> lines_; // kept too, so the strings keep their room
  std::vector<const MountLine*> ordered_;
};

// The table read through listmount(2) and statmount(2) (Linux 6.8 and later), in the caller's
// mount namespace: only mounts not seen in the previous reading are asked about, so a reading
// costs next to nothing per mount. The ids are unique and never given again, and ascend in the
// order of the table.
class MountListing {
 public:
  MountListing();
  ~MountListing();
  MountListing(const MountListing&) = delete;
  MountListing& operator=(const MountListing&) = delete;

  // False for good once the kernel lacks the calls or one of the fields mountinfo would give.
  bool available() const { return available_; }
  // The mounts in table order, valid until the next reading; nothing when unavailable or when
  // this reading failed.
  const std::vector<const MountLine*>* read();
  // Whether the last reading asked about every mount again (one moved, or got new options).
  bool askedAgain() const { return askedAgain_; }

 private:
  bool describe(std::uint64_t id, MountLine& line);

  bool available_ = false;
  bool askedAgain_ = false;
  // The kernel flags this open table on any change; a mount moved or mounted again with other
  // options keeps its id, and only that flag tells.
  int changes_ = -1;
  using Lines = std::vector<std::pair<std::uint64_t, std::unique_ptr<MountLine>>>;
  Lines lines_; // by id, ascending
  Lines kept_;  // the next reading's, kept for its room
  std::vector<std::uint64_t> ids_;
  std::vector<const MountLine*> ordered_;
  std::vector<std::uint64_t> answer_; // statmount's, 8-byte aligned
};
