#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/dispatcher.h"

// A dispatcher for programs without a Qt event loop (the command line): the main queue runs
// on whichever thread calls runUntil, background tasks each on a thread of their own.
class LoopDispatcher : public Dispatcher {
 public:
  LoopDispatcher() = default;
  // Waits for the background threads still running.
  ~LoopDispatcher() override;
  LoopDispatcher(const LoopDispatcher&) = delete;
  LoopDispatcher& operator=(const LoopDispatcher&) = delete;

  void runOnMain(Task task) override;
  void runInBackground(Task task) override;

  // Runs main-queue tasks as they arrive until done() is true after a task (or at once).
  void runUntil(const std::function<bool()>& done);

 private:
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::deque<Task> main_;
  std::vector<std::thread> workers_;
};
