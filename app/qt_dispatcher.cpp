#include "app/qt_dispatcher.h"

#include <utility>

#include <QMetaObject>

QtDispatcher::QtDispatcher() {
  // Ejections run one after another; a few threads are plenty for that and the network.
  pool_.setMaxThreadCount(4);
}

QtDispatcher::~QtDispatcher() {
  pool_.waitForDone();
}

void QtDispatcher::runOnMain(Task task) {
  QMetaObject::invokeMethod(
      &context_, [task = std::move(task)]() { task(); }, Qt::QueuedConnection);
}

void QtDispatcher::runInBackground(Task task) {
  pool_.start([task = std::move(task)]() { task(); });
}

void QtDispatcher::waitForBackground() {
  pool_.waitForDone();
}
