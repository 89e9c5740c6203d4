#include "app/messages_controller.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QWidget>

#include "core/support/server_check.h"
#include "tests/app/app_rig.h"

namespace {

// The controller over a loopback server, with the doubles it reports to.
struct ControllerRig {
  MessageClientRig rig;
  std::unique_ptr<SupportClient> client = rig.makeClient();
  RecordingLauncherBadge badge;
  ScriptedAlertPresenter alerts;
  FakeDisplayEnvironment display;
  MessagesController messages{*client, badge, alerts, display};
};

} // namespace

// The unread mark needs an open ticket. A check landing while a message's alert is open does
// not stack a second alert, and the newer message it brings stays pending.
TEST(MessagesController, UnreadNeedsAnOpenTicketAndAnOfferArrivingDuringTheAlertWaits) {
  ControllerRig controller;
  auto& [rig, client, badge, alerts, display, messages] = controller;
  QWidget window;
  window.show();
  messages.setMainWindow(&window);
  bool pending = false;
  QObject::connect(&messages, &MessagesController::messagePendingChanged,
                   [&](bool now) { pending = now; });
  alerts.onPresent = [&](const Alert&) {
    if (alerts.shown.size() == 1) {
      rig.server.answer(200, MessageClientRig::offer("open", 6, "Newer"));
      messages.syncWithServer();
      rig.dispatcher.drainAll();
    }
  };
  rig.server.answer(200, MessageClientRig::offer("waiting", 5, "Hello"));
  messages.syncWithServer();
  rig.dispatcher.drainAll();
  EXPECT_EQ(alerts.titles().size(), 1u);
  EXPECT_EQ(badge.states, (std::vector<bool>{false, false, false, true, true}));
  EXPECT_TRUE(pending);
  EXPECT_EQ(ShownMessages::read(*rig.store), std::vector<std::int64_t>{5});
}

// The launch check waits while the program shows itself; then it goes like any other.
TEST(MessagesController, TheFirstCheckWaitsTheTimeItIsGiven) {
  ControllerRig controller;
  auto& [rig, client, badge, alerts, display, messages] = controller;
  rig.server.answer(200, MessageClientRig::offer("open", 0, ""));
  QElapsedTimer clock;
  clock.start();
  messages.startSync(std::chrono::milliseconds(300));
  QCoreApplication::processEvents();
  rig.dispatcher.drainAll();
  EXPECT_TRUE(rig.server.received().empty());
  while (rig.server.received().empty() && clock.elapsed() < 10'000) {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    rig.dispatcher.drainAll();
  }
  ASSERT_EQ(rig.server.received().size(), 1u);
  EXPECT_GE(clock.elapsed(), 300);
}
