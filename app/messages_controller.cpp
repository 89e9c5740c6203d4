#include "app/messages_controller.h"

#include <optional>
#include <string>

#include <QLineEdit>

#include "app/support/launcher_badge.h"
#include "app/support/messages_window.h"
#include "app/support/problem_report_form.h"
#include "core/localization.h"
#include "core/support/support_client.h"

MessagesController::MessagesController(SupportClient& client, LauncherBadge& badge,
                                       AlertPresenter& alerts, DisplayEnvironment& display,
                                       QObject* parent)
    : QObject(parent), client_(client), badge_(badge), alerts_(alerts), display_(display) {
  syncTimer_.setInterval(serverSyncIntervalMs);
  connect(&syncTimer_, &QTimer::timeout, this, &MessagesController::syncWithServer);
}

MessagesController::~MessagesController() {
  // Top-level windows have no owner; this one goes with its controller.
  delete window_.data();
}

void MessagesController::startSync() {
  syncWithServer();
  syncTimer_.start();
}

void MessagesController::syncWithServer() {
  // Until the first answer the controls show the launch state: no open ticket, nothing unread.
  refreshBadges();
  QPointer<MessagesController> self(this);
  client_.checkWithServer([self]() {
    if (!self) {
      return;
    }
    self->refreshBadges();
    // With the main window closed the message waits for the badge, the tray menu or the
    // messages window.
    if (self->client_.pendingMessage && self->mainWindow_ && self->mainWindow_->isVisible()) {
      self->showPendingMessage();
    }
  });
}

void MessagesController::refreshBadges() {
  const bool open = client_.ticketState == "open";
  const bool unread = open && client_.pendingMessage.has_value();
  badge_.setUnread(unread);
  emit stateChanged(open, unread);
  emit messagePendingChanged(client_.pendingMessage.has_value());
}

void MessagesController::showPendingMessage() {
  if (!client_.pendingMessage || pendingAlertOpen_) {
    return;
  }
  const SupportClient::PendingMessage message = *client_.pendingMessage;
  pendingAlertOpen_ = true;
  display_.activateApplication(mainWindow_);
  alerts_.present({.style = Alert::Style::informational,
                   .title = L("messages.banner_title"),
                   .message = message.body,
                   .buttons = {L("messages.acknowledge_button")},
                   .icon = std::string(":/icons/varnelo-eject.svg")});
  pendingAlertOpen_ = false;

  // A newer offer may have arrived while the alert was open: the one the user read is the one
  // recorded, and the newer one stays pending.
  std::optional<SupportClient::PendingMessage> newer;
  if (client_.pendingMessage && client_.pendingMessage->id != message.id) {
    newer = client_.pendingMessage;
  }
  client_.pendingMessage = message;
  client_.markMessageShown();
  client_.pendingMessage = newer;
  refreshBadges();
}

void MessagesController::showMessages() {
  // Opening the window counts as reading the message, which then joins the history below.
  if (client_.pendingMessage) {
    client_.markMessageShown();
    refreshBadges();
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

void MessagesController::rebuildWindow() {
  if (!window_) {
    return;
  }
  QPointer<MessagesController> self(this);
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

std::function<void(bool)> MessagesController::replyAnswered() {
  QPointer<MessagesController> self(this);
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

void MessagesController::sendReply() {
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

void MessagesController::reportProblem() {
  openReportForm({}, {});
}

void MessagesController::openReportForm(const QString& description, const QString& email) {
  // Over the main window while it is on screen; standing alone otherwise.
  QWidget* parent = (mainWindow_ && mainWindow_->isVisible()) ? mainWindow_.data() : nullptr;
  ProblemReportForm form(parent);
  form.setDraft(description, email);
  display_.activateApplication(mainWindow_);
  form.show();
  display_.activateApplication(&form);
  if (form.exec() != QDialog::Accepted) {
    return;
  }
  const std::string text = form.description().trimmed().toStdString();
  if (text.empty()) {
    return;
  }
  // The address goes as typed; the server decides what to make of it.
  QPointer<MessagesController> self(this);
  client_.reportProblem(
      text, form.email().toStdString(),
      [self, typed = form.description(), typedEmail = form.email()](bool accepted) {
        if (!self) {
          return;
        }
        if (accepted) {
          self->alerts_.present({.style = Alert::Style::informational,
                                 .title = L("report.sent_title"),
                                 .message = L("report.sent_message"),
                                 .buttons = {},
                                 .icon = std::nullopt});
          return;
        }
        self->alerts_.present({.style = Alert::Style::warning,
                               .title = L("common.send_failed_title"),
                               .message = L("report.failed_message"),
                               .buttons = {},
                               .icon = std::nullopt});
        // Nothing the user typed is lost: the form comes back as they left it.
        if (self) {
          self->openReportForm(typed, typedEmail);
        }
      });
}
