#pragma once

#include <functional>

#include <QObject>
#include <QPointer>
#include <QTimer>

#include "app/alert_presenter.h"
#include "app/display_environment.h"

class LauncherBadge;
class MessagesWindow;
class QLineEdit;
class QString;
class QWidget;
class SupportClient;

// The conversation with the maker: the hourly server check, the pending message and its alert,
// the unread badges, the messages window with replies, and problem reports.
class MessagesController : public QObject {
  Q_OBJECT

 public:
  static constexpr int serverSyncIntervalMs = 3600 * 1000;

  MessagesController(SupportClient& client, LauncherBadge& badge, AlertPresenter& alerts,
                     DisplayEnvironment& display, QObject* parent = nullptr);
  ~MessagesController() override;

  // The window a pending message is shown over while it is on screen.
  void setMainWindow(QWidget* window) { mainWindow_ = window; }
  // One check now, then one every hour.
  void startSync();

 public slots:
  void syncWithServer();
  void refreshBadges();
  void showPendingMessage();
  void showMessages();
  void reportProblem();

 signals:
  void stateChanged(bool ticketOpen, bool unread);
  void messagePendingChanged(bool pending);

 private:
  void sendReply();
  // The window shows the history as it is now, when it is open.
  void rebuildWindow();
  // What a sent or resent reply does with its answer.
  std::function<void(bool accepted)> replyAnswered();
  void openReportForm(const QString& description, const QString& email);

  SupportClient& client_;
  LauncherBadge& badge_;
  AlertPresenter& alerts_;
  DisplayEnvironment& display_;
  QPointer<QWidget> mainWindow_;
  QPointer<MessagesWindow> window_;
  QPointer<QLineEdit> replyField_;
  QTimer syncTimer_;
  // An hourly check can land while the user still has the last message's alert open.
  bool pendingAlertOpen_ = false;
};
