#include "platform/linux/loop_dispatcher.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

LoopDispatcher::LoopDispatcher() : arrivedFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

LoopDispatcher::~LoopDispatcher() {
  std::vector<std::thread> workers;
  {
    std::lock_guard lock(mutex_);
    workers.swap(workers_);
  }
  for (auto& worker : workers) {
    worker.join();
  }
  if (arrivedFd_ >= 0) {
    close(arrivedFd_);
  }
}

void LoopDispatcher::runOnMain(Task task) {
  {
    std::lock_guard lock(mutex_);
    main_.push_back(std::move(task));
  }
  const std::uint64_t one = 1;
  while (write(arrivedFd_, &one, sizeof one) < 0 && errno == EINTR) {
  }
}

void LoopDispatcher::runInBackground(Task task) {
  std::lock_guard lock(mutex_);
  workers_.emplace_back(std::move(task));
}

bool LoopDispatcher::watchOnMain(int descriptor, const Task& onReadable) {
  watched_[descriptor] = onReadable;
  return true;
}

void LoopDispatcher::stopWatching(int descriptor) {
  watched_.erase(descriptor);
}

void LoopDispatcher::runUntil(const std::function<bool()>& done) {
  std::vector<pollfd> descriptors;
  while (!done()) {
    Task task;
    {
      std::lock_guard lock(mutex_);
      if (!main_.empty()) {
        task = std::move(main_.front());
        main_.pop_front();
      }
    }
    if (task) {
      task();
      continue;
    }
    descriptors.assign(1, {arrivedFd_, POLLIN, 0});
    for (const auto& [descriptor, onReadable] : watched_) {
      descriptors.push_back({descriptor, POLLIN, 0});
    }
    // Without its eventfd (descriptors ran out) the queue is looked at now and then.
    if (poll(descriptors.data(), descriptors.size(), arrivedFd_ < 0 ? 10 : -1) < 0) {
      continue;
    }
    std::uint64_t count = 0;
    [[maybe_unused]] const auto drained = read(arrivedFd_, &count, sizeof count);
    for (std::size_t index = 1; index < descriptors.size(); ++index) {
      const auto found = watched_.find(descriptors[index].fd);
      if (descriptors[index].revents != 0 && found != watched_.end()) {
        // A copy: the call may stop the watch.
        const Task onReadable = found->second;
        onReadable();
        if (done()) {
          return;
        }
      }
    }
  }
}
