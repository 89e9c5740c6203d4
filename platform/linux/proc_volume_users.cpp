#include "platform/linux/proc_volume_users.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace {

// The file system of a path, by device number; bind mounts share their source's number.
std::set<dev_t> fileSystemsOf(const std::vector<std::string>& mountPaths) {
  std::set<dev_t> numbers;
  for (const auto& path : mountPaths) {
    struct stat status {};
    if (::stat(path.c_str(), &status) == 0) {
      numbers.insert(status.st_dev);
    }
  }
  return numbers;
}

bool onVolume(const std::filesystem::path& link, const std::set<dev_t>& numbers) {
  struct stat status {};
  return ::stat(link.c_str(), &status) == 0 && numbers.contains(status.st_dev);
}

// Memory maps name their file's device as "MM:mm" in hexadecimal.
bool mapsVolume(const std::filesystem::path& maps, const std::set<dev_t>& numbers) {
  std::ifstream in(maps);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string range, permissions, offset, device;
    fields >> range >> permissions >> offset >> device;
    const auto colon = device.find(':');
    if (colon == std::string::npos) {
      continue;
    }
    unsigned major = 0;
    unsigned minor = 0;
    std::from_chars(device.data(), device.data() + colon, major, 16);
    std::from_chars(device.data() + colon + 1, device.data() + device.size(), minor, 16);
    if ((major != 0 || minor != 0) && numbers.contains(makedev(major, minor))) {
      return true;
    }
  }
  return false;
}

bool holds(const std::filesystem::path& process, const std::set<dev_t>& numbers) {
  if (onVolume(process / "cwd", numbers) || onVolume(process / "root", numbers) ||
      mapsVolume(process / "maps", numbers)) {
    return true;
  }
  std::error_code error;
  for (std::filesystem::directory_iterator fds(process / "fd", error), end; !error && fds != end;
       fds.increment(error)) {
    if (onVolume(fds->path(), numbers)) {
      return true;
    }
  }
  return false;
}

} // namespace

std::vector<VolumeUser> ProcVolumeUsers::usersOf(const std::vector<std::string>& mountPaths) {
  const auto numbers = fileSystemsOf(mountPaths);
  std::vector<VolumeUser> users;
  if (numbers.empty()) {
    return users;
  }
  const int self = static_cast<int>(getpid());
  std::error_code error;
  for (std::filesystem::directory_iterator entries(procRoot_, error), end; !error && entries != end;
       entries.increment(error)) {
    const std::string name = entries->path().filename().string();
    int pid = 0;
    const auto parsed = std::from_chars(name.data(), name.data() + name.size(), pid);
    if (parsed.ec != std::errc() || parsed.ptr != name.data() + name.size() || pid == self) {
      continue;
    }
    if (!holds(entries->path(), numbers)) {
      continue;
    }
    std::string program;
    std::getline(std::ifstream(entries->path() / "comm"), program);
    users.push_back({program, pid});
  }
  std::sort(users.begin(), users.end(),
            [](const auto& left, const auto& right) { return left.pid < right.pid; });
  return users;
}
