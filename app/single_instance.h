#pragma once

#include <QLocalServer>
#include <QObject>
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

  // True: this process is now the running copy and listens for later launches.
  // False: another copy runs and has been told to reopen; this process should end.
  bool claim();

 signals:
  // A later launch asked the running copy to come forward.
  void reopenRequested();

 private:
  void acceptConnections();

  QString name_;
  QLocalServer server_;
};
