#include "app/support/server_sync.h"

#include <QPointer>

#include "core/support/support_client.h"

ServerSync::ServerSync(SupportClient& client, QObject* parent) : QObject(parent), client_(client) {
  timer_.setInterval(intervalMs);
  connect(&timer_, &QTimer::timeout, this, &ServerSync::syncNow);
}

void ServerSync::start(std::chrono::milliseconds after) {
  if (after.count() > 0) {
    QTimer::singleShot(after, this, &ServerSync::syncNow);
  } else {
    syncNow();
  }
  timer_.start();
}

void ServerSync::syncNow() {
  emit started();
  QPointer<ServerSync> self(this);
  client_.checkWithServer([self]() {
    if (self) {
      emit self->finished();
    }
  });
}
