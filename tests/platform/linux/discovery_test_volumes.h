#pragma once

// Real mounts for the discovery tests: a private mount namespace and loop-mounted ext4 images.
// Header only.

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace discovery_test {

struct CommandResult {
  int status = -1;
  std::string output;
};

// Runs a program (no shell) and returns its exit status and standard output.
inline CommandResult runCommand(const std::vector<std::string>& argv) {
  CommandResult result;
  int ends[2];
  if (argv.empty() || pipe2(ends, O_CLOEXEC) != 0) {
    return result;
  }
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(ends[1], STDOUT_FILENO);
    const int null = open("/dev/null", O_RDWR);
    dup2(null, STDIN_FILENO);
    dup2(null, STDERR_FILENO);
    std::vector<char*> arguments;
    for (const auto& argument : argv) {
      arguments.push_back(const_cast<char*>(argument.c_str()));
    }
    arguments.push_back(nullptr);
    execv(arguments[0], arguments.data());
    _exit(127);
  }
  close(ends[1]);
  char buffer[4096];
  ssize_t count = 0;
  while ((count = read(ends[0], buffer, sizeof buffer)) > 0 || (count < 0 && errno == EINTR)) {
    if (count > 0) {
      result.output.append(buffer, static_cast<std::size_t>(count));
    }
  }
  close(ends[0]);
  int status = 0;
  if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status)) {
    result.status = WEXITSTATUS(status);
  }
  return result;
}

inline std::string findTool(const std::string& name) {
  for (const char* folder : {"/usr/sbin", "/sbin", "/usr/bin", "/bin"}) {
    const auto path = std::filesystem::path(folder) / name;
    if (access(path.c_str(), X_OK) == 0) {
      return path.string();
    }
  }
  return name;
}

// Moves the calling thread into a private copy of the mount namespace, so that mounts made by
// other programs meanwhile neither show up here nor disturb the counts, and back at the end.
// Threads and children started meanwhile share the private one.
class PrivateMountNamespace {
 public:
  PrivateMountNamespace() {
    original_ = open("/proc/self/ns/mnt", O_RDONLY | O_CLOEXEC);
    if (original_ < 0 || unshare(CLONE_NEWNS) != 0) {
      error_ = std::string("cannot make a private mount namespace: ") + std::strerror(errno);
      return;
    }
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
      error_ = std::string("cannot make / private: ") + std::strerror(errno);
    }
  }
  ~PrivateMountNamespace() {
    if (original_ >= 0) {
      setns(original_, CLONE_NEWNS);
      close(original_);
    }
  }
  PrivateMountNamespace(const PrivateMountNamespace&) = delete;
  PrivateMountNamespace& operator=(const PrivateMountNamespace&) = delete;

  const std::string& error() const { return error_; }

 private:
  int original_ = -1;
  std::string error_;
};

// An ext4 image with a label, attached to a loop device and mounted in a folder beside it;
// unmounted and detached again however the test ends.
class LoopImage {
 public:
  LoopImage(const std::filesystem::path& folder, const std::string& label,
            std::uintmax_t bytes = 16u << 20)
      : image_(folder / ("image-" + std::to_string(serial()))),
        mountPath_(folder / image_.filename().string().replace(0, 5, "mount")) {
    std::error_code ignored;
    std::filesystem::create_directories(mountPath_, ignored);
    const int fd = open(image_.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0 || ftruncate(fd, static_cast<off_t>(bytes)) != 0) {
      error_ = "cannot create the image file";
      if (fd >= 0) {
        close(fd);
      }
      return;
    }
    close(fd);
    if (runCommand({findTool("mkfs.ext4"), "-q", "-F", "-L", label, image_.string()}).status != 0) {
      error_ = "mkfs.ext4 failed";
      return;
    }
    const auto attached = runCommand({findTool("losetup"), "-f", "--show", image_.string()});
    if (attached.status != 0 || attached.output.empty()) {
      error_ = "losetup failed";
      return;
    }
    device_ = attached.output.substr(0, attached.output.find('\n'));
    if (!mountNow()) {
      error_ = std::string("mount failed: ") + std::strerror(errno);
    }
  }
  ~LoopImage() {
    unmountNow();
    if (!device_.empty()) {
      runCommand({findTool("losetup"), "-d", device_});
    }
  }
  LoopImage(const LoopImage&) = delete;
  LoopImage& operator=(const LoopImage&) = delete;

  // Empty when the image is attached and mounted.
  const std::string& error() const { return error_; }
  const std::string& device() const { return device_; }
  const std::filesystem::path& mountPath() const { return mountPath_; }

  bool mountNow() {
    if (!mounted_ && !device_.empty() &&
        mount(device_.c_str(), mountPath_.c_str(), "ext4", 0, nullptr) == 0) {
      mounted_ = true;
    }
    return mounted_;
  }
  bool unmountNow() {
    if (mounted_ &&
        (umount2(mountPath_.c_str(), 0) == 0 || umount2(mountPath_.c_str(), MNT_DETACH) == 0)) {
      mounted_ = false;
    }
    return !mounted_;
  }

 private:
  static int serial() {
    static int next = 0;
    return next++;
  }

  std::filesystem::path image_;
  std::filesystem::path mountPath_;
  std::string device_;
  bool mounted_ = false;
  std::string error_;
};

} // namespace discovery_test
