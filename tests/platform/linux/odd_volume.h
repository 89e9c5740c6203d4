#pragma once

// Loop volumes named to trip up formatting, escaping, menus and text direction. Header only.

#include <string>
#include <vector>

#include "tests/platform/linux/eject_test_volumes.h"

namespace odd_volume {

struct OddName {
  std::string label;  // at most 16 bytes for ext4; empty: none
  std::string folder; // the mount folder's name
  std::string shown;  // the name the program must show
};

inline std::string longName() {
  std::string name = "Long ";
  while (name.size() < 255) {
    name += "é"; // two bytes each: 5 + 125 * 2 = 255
  }
  return name;
}

inline std::vector<OddName> oddNames() {
  return {
      {"My Disk 2", "My Disk 2", "My Disk 2"},
      {"Bob's \"USB\"", "Bob's \"USB\"", "Bob's \"USB\""},
      {"%@ {} {0}", "%@ {} {0}", "%@ {} {0}"},
      {"Tom & Jerry", "Tom & Jerry", "Tom & Jerry"},
      {"גיבוי 2", "גיבוי 2", "גיבוי 2"},
      {"\u202Egnp.exe", "right-to-left override", "\u202Egnp.exe"},
      {"👩‍💻 Work", "👩‍💻 Work", "👩‍💻 Work"},
      {"", longName(), longName()},
  };
}

using OddVolume = test_volumes::LoopVolume;

// One volume per odd name, in the order of oddNames(), mounted in `folder`; none, with the
// reason in whyNot, where the machine does not allow them all.
inline std::vector<std::unique_ptr<OddVolume>> createOddVolumes(const std::filesystem::path& folder,
                                                                std::string& whyNot) {
  std::vector<std::unique_ptr<OddVolume>> volumes;
  for (const auto& name : oddNames()) {
    OddVolume::Options options;
    options.label = name.label;
    options.folderName = name.folder;
    auto volume = OddVolume::create(folder, options, whyNot);
    if (!volume) {
      return {};
    }
    volumes.push_back(std::move(volume));
  }
  udev_daemon::settle();
  return volumes;
}

} // namespace odd_volume
