#pragma once

#include <chrono>

#include <QObject>
#include <QTimer>

class SupportClient;

// The check with the maker's server: one at launch, then one every hour.
class ServerSync : public QObject {
  Q_OBJECT

 public:
  static constexpr int intervalMs = 3600 * 1000;

  explicit ServerSync(SupportClient& client, QObject* parent = nullptr);

  // One check `after` from now, then one every hour.
  void start(std::chrono::milliseconds after = {});

 public slots:
  void syncNow();

 signals:
  // A check is on its way; the client still holds what the last one brought.
  void started();
  // The answer, if any, has been applied to the client.
  void finished();

 private:
  SupportClient& client_;
  QTimer timer_;
};
