#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/dispatcher.h"
#include "platform/http_transport.h"

// Where the program's network work runs: threads of its own, so that a slow or hung server
// never holds up an ejection or the main thread. Results go back through the main dispatcher.
// Hand it to the support client, the crash reporter and the updater as their dispatcher.
class NetworkQueue : public Dispatcher {
 public:
  // One thread can sit out a hung crash upload while the other serves checks and reports.
  static constexpr std::size_t threadCount = 2;

  // Both must outlive the queue.
  NetworkQueue(Dispatcher& main, HttpTransport& transport);
  // Shuts down.
  ~NetworkQueue() override;
  NetworkQueue(const NetworkQueue&) = delete;
  NetworkQueue& operator=(const NetworkQueue&) = delete;

  void runOnMain(Task task) override;
  // Queued in order; dropped once the queue is shut down.
  void runInBackground(Task task) override;

  // At quit: drops the work not started, aborts the transfers under way and joins the threads,
  // whatever the servers do. Later calls do nothing.
  void shutdown();
  // Blocks until nothing is queued or running.
  void waitUntilIdle();

 private:
  void work();

  Dispatcher& main_;
  HttpTransport& transport_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Task> tasks_;
  std::size_t running_ = 0;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};
