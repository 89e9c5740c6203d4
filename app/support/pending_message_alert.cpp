#include "app/support/pending_message_alert.h"

#include <string>

#include <QWidget>

#include "core/localization.h"
#include "core/support/support_client.h"

PendingMessageAlert::PendingMessageAlert(SupportClient& client, AlertPresenter& alerts,
                                         DisplayEnvironment& display, QObject* parent)
    : QObject(parent), client_(client), alerts_(alerts), display_(display) {}

void PendingMessageAlert::showOverVisibleWindow() {
  if (mainWindow_ && mainWindow_->isVisible()) {
    show();
  }
}

void PendingMessageAlert::show() {
  if (!client_.pendingMessage() || alertOpen_) {
    return;
  }
  const SupportClient::PendingMessage message = *client_.pendingMessage();
  alertOpen_ = true;
  display_.activateApplication(mainWindow_);
  alerts_.present({.style = Alert::Style::informational,
                   .title = L("messages.banner_title"),
                   .message = message.body,
                   .buttons = {L("messages.acknowledge_button")},
                   .icon = std::string(":/icons/varnelo-eject.svg")});
  alertOpen_ = false;
  // A newer offer may have arrived while the alert was open: the one the user read is the one
  // recorded, and the newer one stays pending.
  client_.markMessageShown(message);
  emit shown();
}
