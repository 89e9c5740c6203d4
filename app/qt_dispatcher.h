#pragma once

#include <map>
#include <memory>

#include <QObject>
#include <QSocketNotifier>
#include <QThreadPool>

#include "platform/dispatcher.h"

// The dispatcher of the desktop application: the main queue is the Qt event loop of the
// thread that created it, background work goes to a thread pool of its own.
class QtDispatcher : public Dispatcher {
 public:
  QtDispatcher();
  // Waits for background tasks still running; main-queue tasks not yet run are dropped.
  ~QtDispatcher() override;
  QtDispatcher(const QtDispatcher&) = delete;
  QtDispatcher& operator=(const QtDispatcher&) = delete;

  void runOnMain(Task task) override;
  void runInBackground(Task task) override;
  bool watchOnMain(int descriptor, const Task& onReadable) override;
  void stopWatching(int descriptor) override;

  // Blocks until every background task has finished (tests and shutdown).
  void waitForBackground();

 private:
  // Queued calls are delivered to this object's thread and die with it.
  QObject context_;
  QThreadPool pool_;
  std::map<int, std::unique_ptr<QSocketNotifier>> watched_;
};
