#include "platform/linux/loop_dispatcher.h"

LoopDispatcher::~LoopDispatcher() {
  std::vector<std::thread> workers;
  {
    std::lock_guard lock(mutex_);
    workers.swap(workers_);
  }
  for (auto& worker : workers) {
    worker.join();
  }
}

void LoopDispatcher::runOnMain(Task task) {
  {
    std::lock_guard lock(mutex_);
    main_.push_back(std::move(task));
  }
  arrived_.notify_one();
}

void LoopDispatcher::runInBackground(Task task) {
  std::lock_guard lock(mutex_);
  workers_.emplace_back(std::move(task));
}

void LoopDispatcher::runUntil(const std::function<bool()>& done) {
  while (!done()) {
    Task task;
    {
      std::unique_lock lock(mutex_);
      arrived_.wait(lock, [this] { return !main_.empty(); });
      task = std::move(main_.front());
      main_.pop_front();
    }
    task();
  }
}
