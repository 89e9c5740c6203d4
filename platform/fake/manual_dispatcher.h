#pragma once

#include <deque>
#include <mutex>

#include "platform/dispatcher.h"

// A dispatcher whose queues run only when the test says so, on the thread that drains them.
class ManualDispatcher : public Dispatcher {
 public:
  void runOnMain(Task task) override;
  void runInBackground(Task task) override;

  // Run a queue's tasks, including those queued meanwhile, until it is empty; return how many ran.
  int drainMain() { return drain(main_); }
  int drainBackground() { return drain(background_); }
  // Drains both queues, alternately, until both are empty.
  int drainAll();

  std::size_t pendingBackground() const;

 private:
  int drain(std::deque<Task>& queue);

  mutable std::mutex mutex_;
  std::deque<Task> main_;
  std::deque<Task> background_;
};
