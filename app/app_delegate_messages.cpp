#include <optional>
#include <string>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMainWindow>
#include <QPalette>
#include <QPixmap>

#include "app/app_delegate.h"
#include "app/support/messages_window.h"
#include "app/support/unity_launcher_badge.h"
#include "core/localization.h"
#include "core/support/support_client.h"
#include "views/badge_image_view.h"
#include "views/palette.h"
#include "views/symbols.h"

namespace {

constexpr const char* applicationIconPath = ":/icons/varnelo-eject.svg";

// An hourly sync can land while the user still has the last message's alert open.
bool pendingAlertOpen = false;

} // namespace

SupportClient& AppDelegate::supportClient() {
  return supportService != nullptr ? *supportService : SupportClient::shared();
}

LauncherBadge& AppDelegate::launcherBadge() {
  if (launcherBadgeService != nullptr) {
    return *launcherBadgeService;
  }
  // Kept to the end of the process, past the application object its bus belongs to.
  static auto* badge = new UnityLauncherBadge();
  return *badge;
}

void AppDelegate::syncWithServer() {
  // Until the first answer the controls show the launch state: no open ticket, nothing unread.
  refreshMessageBadges();
  QPointer<AppDelegate> self(this);
  supportClient().checkWithServer([self]() {
    if (!self) {
      return;
    }
    self->refreshMessageBadges();
    // With the main window closed the message waits for the badge, the tray menu or the
    // messages window.
    if (self->supportClient().pendingMessage && self->mainWindow && self->mainWindow->isVisible()) {
      self->showPendingMessage();
    }
  });
}

void AppDelegate::refreshMessageBadges() {
  const SupportClient& client = supportClient();
  const bool open = client.ticketState == "open";
  const bool unread = open && client.pendingMessage.has_value();

  launcherBadge().setUnread(unread);
  if (messagesBadge) {
    if (unread) {
      messagesBadge->setPixmap(QPixmap::fromImage(quotaBadgeImage(1, 14)));
    } else {
      messagesBadge->clear();
    }
    messagesBadge->setVisible(unread);
  }
  if (messagesButton) {
    messagesButton->setVisible(open);
    const QColor tint =
        unread ? QApplication::palette().color(QPalette::Highlight) : secondaryLabelColor();
    messagesButton->setIcon(
        QIcon(Symbols::pixmap(QStringLiteral("envelope.fill"), 15, QFont::Normal, tint)));
    messagesButton->setProperty("tint", tint);
  }
  if (appMessagesItem) {
    appMessagesItem->setVisible(open);
  }
}

void AppDelegate::showPendingMessage() {
  SupportClient& client = supportClient();
  if (!client.pendingMessage || pendingAlertOpen) {
    return;
  }
  const SupportClient::PendingMessage message = *client.pendingMessage;
  pendingAlertOpen = true;
  activateIgnoringOtherApps();
  alerts_.present({Alert::Style::informational,
                   L("messages.banner_title"),
                   message.body,
                   {L("messages.acknowledge_button")},
                   std::string(applicationIconPath)});
  pendingAlertOpen = false;

  // A newer offer may have arrived while the alert was open: the one the user read is the
  // one recorded, and the newer one stays pending.
  std::optional<SupportClient::PendingMessage> newer;
  if (client.pendingMessage && client.pendingMessage->id != message.id) {
    newer = client.pendingMessage;
  }
  client.pendingMessage = message;
  client.markMessageShown();
  client.pendingMessage = newer;
  refreshMessageBadges();
}

void AppDelegate::showMessages() {
  SupportClient& client = supportClient();
  // Opening the window counts as reading the message, which then joins the history below.
  if (client.pendingMessage) {
    client.markMessageShown();
    refreshMessageBadges();
  }

  auto* window = qobject_cast<MessagesWindow*>(messagesWindow.data());
  if (window == nullptr) {
    window = new MessagesWindow();
    messagesWindow = window;
    // Top-level windows have no owner; this one goes with the delegate.
    connect(this, &QObject::destroyed, window, [window]() { delete window; });
  }
  QPointer<AppDelegate> self(this);
  replyField = window->rebuild(client.messageHistory(), [self]() {
    if (self) {
      self->sendReply();
    }
  });

  window->centreOnScreen();
  if (window->isMinimized()) {
    window->showNormal();
  } else {
    window->show();
  }
  window->raise();
  window->activateWindow();
  replyField->setFocus(Qt::OtherFocusReason);
  display_.activateApplication(window);
}

void AppDelegate::sendReply() {
  if (!replyField) {
    return;
  }
  const QString typed = replyField->text().trimmed();
  if (typed.isEmpty()) {
    return;
  }
  const std::string text = typed.toStdString();
  replyField->clear();

  SupportClient& client = supportClient();
  // In the history before it is sent: a failed reply stays there, as the user wrote it.
  client.archiveOwn(text);
  showMessages();

  QPointer<AppDelegate> self(this);
  client.reportProblem(text, std::nullopt, [self](bool accepted) {
    if (accepted || !self) {
      return;
    }
    self->alerts_.present({Alert::Style::warning,
                           L("common.send_failed_title"),
                           L("messages.send_failed_message"),
                           {},
                           std::nullopt});
  });
}
