#pragma once

#include <functional>

// Where work runs: the main thread's queue and a pool of background threads.
// The Qt event loop and a thread pool in the application; a manual queue in tests.
class Dispatcher {
 public:
  using Task = std::function<void()>;

  virtual ~Dispatcher() = default;

  // Queues the task on the main thread. Never runs it inside this call.
  virtual void runOnMain(Task task) = 0;
  // Runs the task on a background thread.
  virtual void runInBackground(Task task) = 0;
  // From the main thread: calls onReadable there whenever the descriptor has something to read,
  // until stopWatching. False when this dispatcher cannot, and the caller must wait by itself.
  virtual bool watchOnMain(int /*descriptor*/, const Task& /*onReadable*/) { return false; }
  virtual void stopWatching(int /*descriptor*/) {}
};
