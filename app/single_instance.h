#pragma once

#include <memory>
#include <unordered_map>

#include <QByteArray>
#include <QObject>
#include <QSocketNotifier>
#include <QString>

// Makes sure one copy of the desktop application runs per user. A later launch hands over
// to the running copy, which comes forward as if reopened, and then ends.
class SingleInstance : public QObject {
  Q_OBJECT

 public:
  // The socket the running copy listens on, in the user's private runtime folder
  // ($XDG_RUNTIME_DIR), where other users can neither create nor squat it.
  static QString defaultName();

  // `name` is a socket path; its lock file sits beside it.
  explicit SingleInstance(QString name = defaultName(), QObject* parent = nullptr);
  ~SingleInstance() override;

  // True: this process is now the running copy and listens for later launches.
  // False: another copy runs and has been told to reopen; this process should end.
  bool claim();

 signals:
  // A later launch asked the running copy to come forward.
  void reopenRequested();

 private:
  // A later launch's connection, until it hangs up.
  struct Caller {
    std::unique_ptr<QSocketNotifier> readable;
    QByteArray unread;
  };

  void acceptConnections();
  void readFrom(int descriptor);

  QString name_;
  int listening_ = -1;
  std::unique_ptr<QSocketNotifier> incoming_;
  std::unordered_map<int, Caller> callers_;
};
