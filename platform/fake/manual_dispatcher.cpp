#include "platform/fake/manual_dispatcher.h"

void ManualDispatcher::runOnMain(Task task) {
  std::lock_guard lock(mutex_);
  main_.push_back(std::move(task));
}

void ManualDispatcher::runInBackground(Task task) {
  std::lock_guard lock(mutex_);
  background_.push_back(std::move(task));
}

int ManualDispatcher::drain(std::deque<Task>& queue) {
  for (int count = 0;; ++count) {
    Task task;
    {
      std::lock_guard lock(mutex_);
      if (queue.empty()) {
        return count;
      }
      task = std::move(queue.front());
      queue.pop_front();
    }
    task();
  }
}

int ManualDispatcher::drainAll() {
  int total = 0;
  for (int ran = 1; ran != 0; total += ran) {
    ran = drainBackground() + drainMain();
  }
  return total;
}

std::size_t ManualDispatcher::pendingBackground() const {
  std::lock_guard lock(mutex_);
  return background_.size();
}
