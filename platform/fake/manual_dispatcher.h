#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>

#include "platform/dispatcher.h"

// A dispatcher whose queues run only when the test says so.
// Both queues run their tasks on the thread that drains them.
class ManualDispatcher : public Dispatcher {
 public:
  void runOnMain(Task task) override;
  void runInBackground(Task task) override;

  // Runs main-queue tasks, including those queued meanwhile, until the queue is empty.
  // Returns how many ran.
  int drainMain();
  int drainBackground();
  // Drains both queues, alternately, until both are empty.
  int drainAll();

  std::size_t pendingMain() const;
  std::size_t pendingBackground() const;

 private:
  static bool runOne(std::mutex& mutex, std::deque<Task>& queue);

  mutable std::mutex mutex_;
  std::deque<Task> main_;
  std::deque<Task> background_;
};
