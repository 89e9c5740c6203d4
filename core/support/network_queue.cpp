#include "core/support/network_queue.h"

#include <utility>

NetworkQueue::NetworkQueue(Dispatcher& main, HttpTransport& transport)
    : main_(main), transport_(transport) {
  for (std::size_t index = 0; index < threadCount; ++index) {
    threads_.emplace_back([this] { work(); });
  }
}

NetworkQueue::~NetworkQueue() {
  shutdown();
}

void NetworkQueue::runOnMain(Task task) {
  main_.runOnMain(std::move(task));
}

void NetworkQueue::runInBackground(Task task) {
  {
    const std::lock_guard lock(mutex_);
    if (stopping_) {
      return;
    }
    tasks_.push_back(std::move(task));
  }
  changed_.notify_one();
}

void NetworkQueue::shutdown() {
  std::deque<Task> dropped;
  {
    const std::lock_guard lock(mutex_);
    if (stopping_ && threads_.empty()) {
      return;
    }
    stopping_ = true;
    dropped.swap(tasks_);
  }
  changed_.notify_all();
  transport_.abortAll();
  for (std::thread& thread : threads_) {
    thread.join();
  }
  threads_.clear();
}

void NetworkQueue::waitUntilIdle() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return tasks_.empty() && running_ == 0; });
}

void NetworkQueue::work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stopping_ || !tasks_.empty(); });
    if (stopping_) {
      return;
    }
    Task task = std::move(tasks_.front());
    tasks_.pop_front();
    ++running_;
    lock.unlock();
    task();
    task = nullptr;
    lock.lock();
    --running_;
    changed_.notify_all();
  }
}
