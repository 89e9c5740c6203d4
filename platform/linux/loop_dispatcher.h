#pragma once

#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/dispatcher.h"

// A dispatcher for programs without a Qt event loop (the command line): the main queue runs
// on whichever thread calls runUntil, background tasks each on a thread of their own.
class LoopDispatcher : public Dispatcher {
 public:
  LoopDispatcher();
  // Waits for the background threads still running.
  ~LoopDispatcher() override;
  LoopDispatcher(const LoopDispatcher&) = delete;
  LoopDispatcher& operator=(const LoopDispatcher&) = delete;

  void runOnMain(Task task) override;
  void runInBackground(Task task) override;
  // Called from runUntil's thread; only while it runs.
  bool watchOnMain(int descriptor, const Task& onReadable) override;
  void stopWatching(int descriptor) override;

  // Runs main-queue tasks as they arrive, and the calls for watched descriptors, until done()
  // is true after one of them (or at once).
  void runUntil(const std::function<bool()>& done);

 private:
  std::mutex mutex_;
  int arrivedFd_;
  std::deque<Task> main_;
  std::vector<std::thread> workers_;
  std::map<int, Task> watched_; // runUntil's thread only
};
