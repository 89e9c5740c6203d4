#include "platform/linux/device_holders.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <thread>

namespace {

namespace fs = std::filesystem;

// Calls visit(pid, folder) for every process in the process table, ours unless told.
void forEachProcess(const std::string& procRoot,
                    const std::function<void(int, const fs::path&)>& visit, bool withUs = false) {
  const int self = withUs ? 0 : static_cast<int>(getpid());
  std::error_code error;
  for (fs::directory_iterator entries(procRoot, error), end; !error && entries != end;
       entries.increment(error)) {
    const std::string name = entries->path().filename().string();
    int pid = 0;
    const auto parsed = std::from_chars(name.data(), name.data() + name.size(), pid);
    if (parsed.ec == std::errc() && parsed.ptr == name.data() + name.size() && pid != self) {
      visit(pid, entries->path());
    }
  }
}

std::string programOf(const fs::path& process) {
  std::string program;
  std::getline(std::ifstream(process / "comm"), program);
  return program;
}

std::string textOf(const fs::path& file) {
  std::ostringstream text;
  text << std::ifstream(file).rdbuf();
  return text.str();
}

// The folders an overlay is made of: "lowerdir=/a:/b,upperdir=/c,workdir=/d".
std::vector<std::string> overlayFolders(const std::string& options) {
  std::vector<std::string> folders;
  std::istringstream fields(options);
  std::string field;
  while (std::getline(fields, field, ',')) {
    const auto equals = field.find('=');
    const std::string key = field.substr(0, equals);
    if (equals == std::string::npos ||
        (key != "upperdir" && key != "workdir" && !key.starts_with("lowerdir"))) {
      continue;
    }
    std::istringstream parts(field.substr(equals + 1));
    std::string folder;
    while (std::getline(parts, folder, ':')) {
      folders.push_back(folder);
    }
  }
  return folders;
}

void addOnce(std::vector<DeviceHold>& holds, DeviceHold hold) {
  if (std::none_of(holds.begin(), holds.end(), [&](const DeviceHold& known) {
        return known.kind == hold.kind && known.where == hold.where;
      })) {
    holds.push_back(std::move(hold));
  }
}

} // namespace

DeviceHolders::DeviceHolders(Paths paths) : paths_(std::move(paths)), users_(paths_.procRoot) {}

bool DeviceHolders::onDevice(const std::string& path, const DeviceMounts& device) const {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0 && device.numbers().contains(status.st_dev);
}

std::vector<DeviceHold> DeviceHolders::holdsBesidesOurMounts(const DeviceMounts& device,
                                                             const std::vector<MountEntry>& table) {
  std::vector<DeviceHold> holds;
  for (const auto& point : device.coveredMountPoints(table)) {
    addOnce(holds, {DeviceHold::Kind::coveredMountPoint, point, {}});
  }
  std::set<int> ours;
  for (const auto& entry : table) {
    ours.insert(entry.id);
  }
  // Mount ids are unique machine-wide: a mount of the device with an id we do not have is
  // another namespace's. Processes sharing a namespace share its table, read once.
  std::set<std::size_t> tablesSeen;
  forEachProcess(
      paths_.procRoot,
      [&](int pid, const fs::path& process) {
        const std::string text = textOf(process / "mountinfo");
        if (text.empty() || !tablesSeen.insert(std::hash<std::string>{}(text)).second) {
          return;
        }
        bool named = false;
        for (const auto& entry : parseMountTable(text)) {
          if (!named && device.matches(entry) && !ours.contains(entry.id)) {
            addOnce(
                holds,
                {DeviceHold::Kind::otherNamespace, std::to_string(pid), {programOf(process), pid}});
            named = true;
          }
          if (entry.fileSystemType != "overlay") {
            continue;
          }
          for (const auto& folder : overlayFolders(entry.superOptions)) {
            // Seen from inside the overlay's namespace where we may, else from ours.
            if (onDevice((process / "root").string() + folder, device) ||
                onDevice(folder, device)) {
              addOnce(holds, {DeviceHold::Kind::overlay, entry.target, {}});
              break;
            }
          }
        }
      },
      true);

  std::istringstream swaps(textOf(fs::path(paths_.procRoot) / "swaps"));
  std::string line;
  std::getline(swaps, line); // the heading
  while (std::getline(swaps, line)) {
    std::istringstream fields(line);
    std::string file, type;
    fields >> file >> type;
    if (type == "file" && onDevice(file, device)) {
      addOnce(holds, {DeviceHold::Kind::swapFile, file, {}});
    }
  }

  const std::string ownLoop = fs::path(device.device()).filename().string();
  std::error_code error;
  for (fs::directory_iterator blocks(fs::path(paths_.sysRoot) / "block", error), end;
       !error && blocks != end; blocks.increment(error)) {
    const std::string name = blocks->path().filename().string();
    if (!name.starts_with("loop") || name == ownLoop) {
      continue;
    }
    const auto backing = loopBackingOf(name, paths_.sysRoot, paths_.devRoot);
    if (backing && device.numbers().contains(backing->device)) {
      addOnce(holds, {DeviceHold::Kind::loopDevice, paths_.devRoot + "/" + name, {}});
    }
  }
  return holds;
}

EjectOutcome DeviceHolders::refusal(const DeviceMounts& device,
                                    const std::vector<MountEntry>& table) {
  EjectOutcome outcome;
  outcome.holders = users_.usersOf(device.mountPoints(table));
  outcome.nestedMounts = device.nestedMounts(table);
  outcome.holds = holdsBesidesOurMounts(device, table);
  if (!outcome.holders.empty()) {
    outcome.failure = EjectFailure::busy;
  } else if (!outcome.nestedMounts.empty()) {
    outcome.failure = EjectFailure::nestedVolume;
  } else if (!outcome.holds.empty()) {
    outcome.failure = EjectFailure::held;
  }
  return outcome;
}

EjectOutcome DeviceHolders::afterUnmount(const DeviceMounts& device,
                                         const std::optional<std::vector<MountEntry>>& table) {
  EjectOutcome outcome;
  // An ordinary user cannot open the device to prove it free: our own table is the one proof
  // that works for everybody.
  if (!table || device.mounted(*table)) {
    outcome.failure = EjectFailure::other; // "still mounted" says it all
    return outcome;
  }
  int error = ENOENT;
  // A FUSE server or udevd's probe may let go of the node a moment after the unmount.
  for (int attempt = 0; attempt < 50 && !device.device().empty(); ++attempt) {
    const int fd = ::open(device.device().c_str(), O_RDONLY | O_EXCL | O_CLOEXEC);
    if (fd >= 0) {
      ::close(fd);
      outcome.success = true;
      return outcome;
    }
    error = errno;
    if (error != EBUSY) {
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  outcome.holds = holdsBesidesOurMounts(device, *table);
  if (error == EBUSY) {
    struct stat node {};
    if (::stat(device.device().c_str(), &node) == 0) {
      for (const auto& user : openersOf(node.st_rdev)) {
        addOnce(outcome.holds, {DeviceHold::Kind::openDevice, std::to_string(user.pid), user});
      }
    }
  }
  // Not ours to open (an ordinary user): the other namespaces' tables are the proof we have.
  outcome.success = error != EBUSY && outcome.holds.empty();
  outcome.failure = outcome.success ? EjectFailure::none : EjectFailure::stillInUse;
  return outcome;
}

std::vector<VolumeUser> DeviceHolders::openersOf(dev_t device) {
  std::vector<VolumeUser> openers;
  forEachProcess(paths_.procRoot, [&](int pid, const fs::path& process) {
    std::error_code error;
    for (fs::directory_iterator fds(process / "fd", error), end; !error && fds != end;
         fds.increment(error)) {
      struct stat status {};
      if (::stat(fds->path().c_str(), &status) == 0 && S_ISBLK(status.st_mode) &&
          status.st_rdev == device) {
        openers.push_back({programOf(process), pid});
        return;
      }
    }
  });
  return openers;
}
