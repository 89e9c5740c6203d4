#include "app/support/message_badges.h"

#include "app/support/launcher_badge.h"
#include "core/support/support_client.h"

MessageBadges::MessageBadges(SupportClient& client, LauncherBadge& badge, QObject* parent)
    : QObject(parent), client_(client), badge_(badge) {}

void MessageBadges::refresh() {
  const bool open = client_.ticketOpen();
  const bool pending = client_.pendingMessage().has_value();
  const bool unread = open && pending;
  badge_.setUnread(unread);
  emit stateChanged(open, unread);
  emit messagePendingChanged(pending);
}
