#include "app/messages_controller.h"

#include <QWidget>

MessagesController::MessagesController(SupportClient& client, LauncherBadge& badge,
                                       AlertPresenter& alerts, DisplayEnvironment& display,
                                       QObject* parent)
    : QObject(parent), sync_(client), badges_(client, badge), alert_(client, alerts, display),
      window_(client, alerts, display), report_(client, alerts, display) {
  // Until the first answer the controls show the launch state: no open ticket, nothing unread.
  connect(&sync_, &ServerSync::started, &badges_, &MessageBadges::refresh);
  connect(&sync_, &ServerSync::finished, &badges_, &MessageBadges::refresh);
  connect(&sync_, &ServerSync::finished, &alert_, &PendingMessageAlert::showOverVisibleWindow);
  connect(&alert_, &PendingMessageAlert::shown, &badges_, &MessageBadges::refresh);
  connect(&window_, &MessagesWindowController::messageRead, &badges_, &MessageBadges::refresh);
  connect(&badges_, &MessageBadges::stateChanged, this, &MessagesController::stateChanged);
  connect(&badges_, &MessageBadges::messagePendingChanged, this,
          &MessagesController::messagePendingChanged);
}

void MessagesController::setMainWindow(QWidget* window) {
  alert_.setMainWindow(window);
  report_.setMainWindow(window);
}
