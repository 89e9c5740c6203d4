#pragma once

#include <chrono>

#include <QObject>

#include "app/alert_presenter.h"
#include "app/display_environment.h"
#include "app/support/message_badges.h"
#include "app/support/messages_window_controller.h"
#include "app/support/pending_message_alert.h"
#include "app/support/problem_report_controller.h"
#include "app/support/server_sync.h"

class LauncherBadge;
class QWidget;
class SupportClient;

// The conversation with the maker, put together: the hourly check, the badges, the pending
// message's alert, the messages window and the report form, each its own object, connected
// here. The rest of the shell talks to these slots and signals.
class MessagesController : public QObject {
  Q_OBJECT

 public:
  MessagesController(SupportClient& client, LauncherBadge& badge, AlertPresenter& alerts,
                     DisplayEnvironment& display, QObject* parent = nullptr);

  // The window a pending message is shown over, and a report form over, while it is on screen.
  void setMainWindow(QWidget* window);
  // One check `after` from now, then one every hour.
  void startSync(std::chrono::milliseconds after = {}) { sync_.start(after); }

 public slots:
  void syncWithServer() { sync_.syncNow(); }
  void refreshBadges() { badges_.refresh(); }
  void showMessages() { window_.show(); }
  void reportProblem() { report_.reportProblem(); }

 signals:
  void stateChanged(bool ticketOpen, bool unread);
  void messagePendingChanged(bool pending);

 private:
  ServerSync sync_;
  MessageBadges badges_;
  PendingMessageAlert alert_;
  MessagesWindowController window_;
  ProblemReportController report_;
};
