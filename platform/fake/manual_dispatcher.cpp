#include "platform/fake/manual_dispatcher.h"

void ManualDispatcher::runOnMain(Task task) {
  std::lock_guard lock(mutex_);
  main_.push_back(std::move(task));
}

void ManualDispatcher::runInBackground(Task task) {
  std::lock_guard lock(mutex_);
  background_.push_back(std::move(task));
}

bool ManualDispatcher::runOne(std::mutex& mutex, std::deque<Task>& queue) {
  Task task;
  {
    std::lock_guard lock(mutex);
    if (queue.empty()) {
      return false;
    }
    task = std::move(queue.front());
    queue.pop_front();
  }
  task();
  return true;
}

int ManualDispatcher::drainMain() {
  int count = 0;
  while (runOne(mutex_, main_)) {
    ++count;
  }
  return count;
}

int ManualDispatcher::drainBackground() {
  int count = 0;
  while (runOne(mutex_, background_)) {
    ++count;
  }
  return count;
}

int ManualDispatcher::drainAll() {
  int total = 0;
  for (;;) {
    const int ran = drainBackground() + drainMain();
    if (ran == 0) {
      return total;
    }
    total += ran;
  }
}

std::size_t ManualDispatcher::pendingMain() const {
  std::lock_guard lock(mutex_);
  return main_.size();
}

std::size_t ManualDispatcher::pendingBackground() const {
  std::lock_guard lock(mutex_);
  return background_.size();
}
