#include "app/support/messages_window_controller.h"

#include <optional>

#include <QLineEdit>

#include "app/support/messages_window.h"
#include "core/localization.h"
#include "core/support/support_client.h"

MessagesWindowController::MessagesWindowController(SupportClient& client, AlertPresenter& alerts,
                                                   DisplayEnvironment& display, QObject* parent)
    : QObject(parent), client_(client), alerts_(alerts), display_(display) {}

MessagesWindowController::~MessagesWindowController() {
  // Top-level windows have no owner; this one goes with its controller.
  delete window_.data();
}

void MessagesWindowController::show() {
  // Opening the window counts as reading the message, which then joins the history below.
  if (client_.pendingMessage()) {
    client_.markMessageShown();
    emit messageRead();
  }
  if (!window_) {
    window_ = new MessagesWindow();
  }
  rebuildWindow();
  window_->centreOnScreen();
  if (window_->isMinimized()) {
    window_->showNormal();
  } else {
    window_->show();
  }
  window_->raise();
  window_->activateWindow();
  replyField_->setFocus(Qt::OtherFocusReason);
  display_.activateApplication(window_);
}

void MessagesWindowController::rebuildWindow() {
  if (!window_) {
    return;
  }
  QPointer<MessagesWindowController> self(this);
  replyField_ = window_->rebuild(
      client_.messageHistory(),
      [self]() {
        if (self) {
          self->sendReply();
        }
      },
      [self](const ArchivedMessage& reply) {
        if (self) {
          self->client_.resendReply(reply, self->replyAnswered());
        }
      });
}

std::function<void(bool)> MessagesWindowController::replyAnswered() {
  QPointer<MessagesWindowController> self(this);
  return [self](bool accepted) {
    if (!self) {
      return;
    }
    // The history shows whether it went: "Not sent" with Send Again when it did not.
    self->rebuildWindow();
    if (!accepted) {
      self->alerts_.present({.style = Alert::Style::warning,
                             .title = L("common.send_failed_title"),
                             .message = L("messages.send_failed_message"),
                             .buttons = {},
                             .icon = std::nullopt});
    }
  };
}

void MessagesWindowController::sendReply() {
  if (!replyField_) {
    return;
  }
  const QString typed = replyField_->text().trimmed();
  if (typed.isEmpty()) {
    return;
  }
  replyField_->clear();
  // Archived before it is sent: a failed reply stays in the history, as the user wrote it.
  client_.sendReply(typed.toStdString(), replyAnswered());
  rebuildWindow();
}
