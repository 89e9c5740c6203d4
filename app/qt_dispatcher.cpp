#include "app/qt_dispatcher.h"

#include <utility>

#include <QMetaObject>

QtDispatcher::QtDispatcher() {
  // Ejections run one after another; a few threads are plenty for that and the network.
  pool_.setMaxThreadCount(4);
  // Volumes come and go minutes apart: a thread that expired after Qt's 30 idle seconds would be
  // made again for each, with its stack and its own malloc arena. Idle, they wait without waking.
  pool_.setExpiryTimeout(-1);
  // Their work (mount table, udev, sysfs, a child process, a D-Bus call) is shallow.
  pool_.setStackSize(512 * 1024);
}

QtDispatcher::~QtDispatcher() {
  watched_.clear();
  pool_.waitForDone();
}

void QtDispatcher::runOnMain(Task task) {
  QMetaObject::invokeMethod(
      &context_, [task = std::move(task)]() { task(); }, Qt::QueuedConnection);
}

void QtDispatcher::runInBackground(Task task) {
  pool_.start([task = std::move(task)]() { task(); });
}

bool QtDispatcher::watchOnMain(int descriptor, const Task& onReadable) {
  auto notifier = std::make_unique<QSocketNotifier>(descriptor, QSocketNotifier::Read, &context_);
  QObject::connect(notifier.get(), &QSocketNotifier::activated, &context_,
                   [onReadable]() { onReadable(); });
  watched_[descriptor] = std::move(notifier);
  return true;
}

void QtDispatcher::stopWatching(int descriptor) {
  const auto found = watched_.find(descriptor);
  if (found == watched_.end()) {
    return;
  }
  // Its own call may be the one asking; the context deletes it at the latest.
  found->second->setEnabled(false);
  found->second.release()->deleteLater();
  watched_.erase(found);
}

void QtDispatcher::waitForBackground() {
  pool_.waitForDone();
}
