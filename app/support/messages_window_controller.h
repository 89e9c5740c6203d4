#pragma once

#include <functional>

#include <QObject>
#include <QPointer>

#include "app/alert_presenter.h"
#include "app/display_environment.h"

class MessagesWindow;
class QLineEdit;
class SupportClient;

// The messages window: the conversation as the client keeps it, and the replies typed there.
class MessagesWindowController : public QObject {
  Q_OBJECT

 public:
  MessagesWindowController(SupportClient& client, AlertPresenter& alerts,
                           DisplayEnvironment& display, QObject* parent = nullptr);
  ~MessagesWindowController() override;

 public slots:
  void show();

 signals:
  // Opening the window read the pending message.
  void messageRead();

 private:
  void sendReply();
  // The window shows the history as it is now, when it is open.
  void rebuildWindow();
  // What a sent or resent reply does with its answer.
  std::function<void(bool accepted)> replyAnswered();

  SupportClient& client_;
  AlertPresenter& alerts_;
  DisplayEnvironment& display_;
  QPointer<MessagesWindow> window_;
  QPointer<QLineEdit> replyField_;
};
