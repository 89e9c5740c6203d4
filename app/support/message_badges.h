#pragma once

#include <QObject>

class LauncherBadge;
class SupportClient;

// The unread marks: the launcher's badge, and the state the window and the tray menu show.
class MessageBadges : public QObject {
  Q_OBJECT

 public:
  MessageBadges(SupportClient& client, LauncherBadge& badge, QObject* parent = nullptr);

 public slots:
  // Shows what the client holds now.
  void refresh();

 signals:
  void stateChanged(bool ticketOpen, bool unread);
  void messagePendingChanged(bool pending);

 private:
  SupportClient& client_;
  LauncherBadge& badge_;
};
