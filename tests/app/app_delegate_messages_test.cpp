#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

#include "app/support/messages_window.h"
#include "core/localization.h"
#include "core/support/message_history.h"
#include "core/support/server_check.h"
#include "tests/app/messages_rig.h"
#include "views/badge_image_view.h"
#include "views/palette.h"

namespace {

using namespace std::chrono_literals;

QColor tintOf(const QAbstractButton* button) {
  return button->property("tint").value<QColor>();
}

QColor accentColor() {
  return QApplication::palette().color(QPalette::Highlight);
}

class Messages : public testing::Test {
 protected:
  AppDelegate& delegate() { return *rig.app.delegate; }

  MessagesWindow* window() { return qobject_cast<MessagesWindow*>(delegate().messagesWindow); }

  QScrollArea* scroll() { return childNamed<QScrollArea>(window(), "conversationScroll"); }

  QWidget* conversation() { return scroll()->widget(); }

  // The conversation's labels of that name, top to bottom.
  std::vector<QLabel*> conversationLabels(const char* name) {
    std::vector<QLabel*> result;
    for (QLabel* child : conversation()->findChildren<QLabel*>(QString::fromLatin1(name))) {
      result.push_back(child);
    }
    std::sort(result.begin(), result.end(), [](QLabel* a, QLabel* b) { return a->y() < b->y(); });
    return result;
  }

  // Entries from a month ago, alternately the maker's and the user's.
  void seedHistory(int entries, const std::string& body = "A short note") {
    SettingsValue::Array list;
    const SettingsValue::Date start = std::chrono::system_clock::now() - 30 * 24h;
    for (int index = 1; index <= entries; ++index) {
      list.push_back(
          SettingsValue::Dictionary{{"id", std::int64_t{index % 2 == 0 ? -index : index}},
                                    {"body", body + " " + std::to_string(index)},
                                    {"date", start + index * 1h},
                                    {"mine", index % 2 == 0}});
    }
    rig.store.set(MessageHistory::key, std::move(list));
  }

  // Launched with nothing to say and the messages window open.
  void openWindow() {
    rig.launch();
    rig.settle();
    delegate().showMessages();
  }

  void expectBadges(bool unread) {
    EXPECT_EQ(rig.badge.unread(), unread);
    EXPECT_EQ(delegate().messagesBadge->isHidden(), !unread);
    EXPECT_EQ(tintOf(delegate().messagesButton), unread ? accentColor() : secondaryLabelColor());
  }

  MessagesRig rig;
};

// --- sync and badges ---

TEST_F(Messages, Sync_AnOfferWithTheMainWindowShownAlertsAtOnceClearsTheBadgesAndIsReportedHourly) {
  rig.launch(MessagesRig::offer("open", 7, "Version 2 fixes your disk"));
  bool unreadWhileShown = false;
  rig.app.alerts.setOnPresent([&](const Alert&) {
    unreadWhileShown = rig.badge.unread() && !delegate().messagesBadge->isHidden() &&
                       !delegate().messagesBadge->pixmap().isNull() &&
                       !delegate().messagesButton->isHidden() &&
                       tintOf(delegate().messagesButton) == accentColor() &&
                       delegate().appMessagesItem->isVisible();
  });

  rig.settle();

  ASSERT_EQ(rig.app.alerts.shown.size(), 1u);
  const Alert& alert = rig.app.alerts.shown[0];
  EXPECT_EQ(alert.title, L("messages.banner_title"));
  EXPECT_EQ(alert.message, "Version 2 fixes your disk");
  EXPECT_EQ(alert.buttons, std::vector<std::string>{L("messages.acknowledge_button")});
  EXPECT_TRUE(alert.icon.has_value());
  EXPECT_TRUE(unreadWhileShown);

  expectBadges(false);
  EXPECT_FALSE(delegate().messagesButton->isHidden());
  EXPECT_FALSE(rig.client->pendingMessage);
  EXPECT_EQ(rig.store.object(ShownMessages::acknowledgedKey), SettingsValue(std::int64_t{7}));
  ASSERT_EQ(rig.client->messageHistory().size(), 1u);

  // The hourly timer checks again and reports the message as shown.
  ASSERT_EQ(rig.requestsTo("/eject/v1/check").size(), 1u);
  EXPECT_EQ(delegate().serverSyncTimer.interval(), 3600 * 1000);
  delegate().serverSyncTimer.setInterval(1);
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return rig.app.engineRig.dispatcher.pendingBackground() > 0; }, 5000));
  delegate().serverSyncTimer.stop();
  rig.settle();
  const auto checks = rig.requestsTo("/eject/v1/check");
  ASSERT_GE(checks.size(), 2u);
  EXPECT_EQ(nlohmann::json::parse(checks.back().body)["m"], 7);
}

TEST_F(Messages, Badges_OnlyAnOpenTicketShowsTheControlsButTheStatusMenuOffersAnyPendingMessage) {
  rig.launch(MessagesRig::offer("open", 0, ""));
  EXPECT_TRUE(delegate().messagesButton->isHidden());
  EXPECT_FALSE(delegate().appMessagesItem->isVisible());
  rig.settle();
  EXPECT_FALSE(delegate().messagesButton->isHidden());
  EXPECT_TRUE(delegate().appMessagesItem->isVisible());
  expectBadges(false);
  delegate().showPendingMessage();
  EXPECT_TRUE(rig.app.alerts.shown.empty());

  // Any other state hides them even with a message pending.
  rig.hideMainWindow();
  for (const char* state : {"closed", "none", "OPEN", "", "open "}) {
    SCOPED_TRACE(state);
    rig.server.answer(200, MessagesRig::offer(state, 9, "Pending"));
    delegate().syncWithServer();
    rig.settle();
    EXPECT_TRUE(rig.client->pendingMessage);
    EXPECT_TRUE(delegate().messagesButton->isHidden());
    EXPECT_FALSE(delegate().appMessagesItem->isVisible());
    EXPECT_TRUE(delegate().messagesBadge->isHidden());
    EXPECT_FALSE(rig.badge.unread());
  }

  // The status menu offers the pending message above Open whatever the ticket state.
  std::unique_ptr<QMenu> menu(delegate().buildStatusMenu());
  QAction* item = actionTitled(*menu, L("messages.banner_title"));
  ASSERT_NE(item, nullptr);
  EXPECT_FALSE(item->icon().isNull());
  const QList<QAction*> actions = menu->actions();
  EXPECT_EQ(actions.indexOf(item) + 1, actions.indexOf(actionTitled(*menu, L("menu.open_app"))));
  item->trigger();

  EXPECT_FALSE(rig.client->pendingMessage);
  ASSERT_NE(window(), nullptr);
  EXPECT_TRUE(window()->isVisible());
  std::unique_ptr<QMenu> after(delegate().buildStatusMenu());
  EXPECT_EQ(actionTitled(*after, L("messages.banner_title")), nullptr);
}

// --- the window ---

TEST_F(Messages, ShowMessages_AMessageWaitsBehindTheBadgesThenOpeningShowsItFirstAsPlainText) {
  seedHistory(2);
  rig.launch(MessagesRig::offer("open", 31, "<b>Fresh</b> & <i>new</i>"));
  rig.hideMainWindow();
  rig.settle();
  // With the main window closed there is no alert.
  EXPECT_TRUE(rig.app.alerts.shown.empty());
  ASSERT_TRUE(rig.client->pendingMessage);
  expectBadges(true);
  EXPECT_TRUE(delegate().appMessagesItem->isVisible());

  delegate().showMessages();

  EXPECT_FALSE(rig.client->pendingMessage);
  EXPECT_EQ(rig.store.object(ShownMessages::acknowledgedKey), SettingsValue(std::int64_t{31}));
  expectBadges(false);
  const auto headers = conversationLabels("messageHeader");
  const auto bodies = conversationLabels("messageBody");
  ASSERT_EQ(bodies.size(), 3u);
  EXPECT_EQ(bodies[0]->text(), "<b>Fresh</b> & <i>new</i>");
  EXPECT_EQ(bodies[0]->textFormat(), Qt::PlainText);
  EXPECT_TRUE(
      headers[0]->text().startsWith(QString::fromStdString(L("messages.varnelo_labs_prefix"))));
  EXPECT_TRUE(headers[1]->text().startsWith(QString::fromStdString(L("messages.you_prefix"))));
  EXPECT_TRUE(rig.app.alerts.shown.empty());
  // A short conversation keeps the visible height.
  EXPECT_EQ(conversation()->height(), 416);
}

TEST_F(Messages, ShowMessages_FixedWindowWithItsControlsThatClosingOnlyHides) {
  openWindow();

  MessagesWindow* messages = window();
  ASSERT_NE(messages, nullptr);
  EXPECT_TRUE(messages->isVisible());
  EXPECT_EQ(messages->size(), QSize(460, 520));
  EXPECT_EQ(messages->minimumSize(), messages->maximumSize());
  EXPECT_EQ(messages->windowTitle().toStdString(), L("messages.window_title"));
  EXPECT_EQ(scroll()->geometry(), QRect(0, 0, 460, 416));
  QLineEdit* field = delegate().replyField;
  ASSERT_NE(field, nullptr);
  EXPECT_EQ(field->geometry(), QRect(22, 428, 416, 40));
  EXPECT_EQ(field->placeholderText().toStdString(), L("messages.reply_placeholder"));
  EXPECT_EQ(messages->focusWidget(), field);
  auto* send = childNamed<QPushButton>(messages, "sendButton");
  EXPECT_EQ(send->text().toStdString(), L("common.send"));
  EXPECT_EQ(send->geometry().right() + 1, 438);
  EXPECT_EQ(send->geometry().bottom() + 1, 520 - 14);
  auto* hint = childNamed<QLabel>(messages, "hintLabel");
  EXPECT_EQ(hint->text().toStdString(), L("messages.hint"));
  EXPECT_EQ(hint->x(), 22);
  EXPECT_EQ(hint->geometry().bottom() + 1, 520 - 20);

  auto* empty = childNamed<QLabel>(conversation(), "emptyLabel");
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(empty->text().toStdString(), L("messages.empty"));
  EXPECT_EQ(empty->y(), 60);
  EXPECT_NEAR(empty->x() + empty->width() / 2.0, 230, 1);
  EXPECT_EQ(conversation()->size(), QSize(460, 416));

  // Closing only hides it; reopening centres it again with fresh content.
  QPointer<QWidget> same = messages;
  QPointer<QLineEdit> firstField = field;
  const QPoint centred = messages->pos();
  messages->move(centred + QPoint(-40, -30));
  messages->close();
  AppRig::flushEvents();
  ASSERT_FALSE(same.isNull());
  EXPECT_FALSE(messages->isVisible());

  delegate().showMessages();
  AppRig::flushEvents();

  EXPECT_EQ(delegate().messagesWindow, same);
  EXPECT_TRUE(messages->isVisible());
  EXPECT_EQ(window()->pos(), centred);
  EXPECT_TRUE(firstField.isNull());
  EXPECT_NE(delegate().replyField, nullptr);
  EXPECT_EQ(window()->findChildren<QLineEdit*>().size(), 1u);
}

TEST_F(Messages, ShowMessages_EntriesStackNewestFirstAndALongConversationScrolls) {
  seedHistory(40, std::string(300, 'x') + " long words that wrap over several lines");
  openWindow();

  const auto headers = conversationLabels("messageHeader");
  const auto bodies = conversationLabels("messageBody");
  ASSERT_EQ(headers.size(), 40u);
  ASSERT_EQ(bodies.size(), 40u);
  EXPECT_EQ(headers[0]->pos(), QPoint(22, 20));
  EXPECT_EQ(bodies[0]->geometry().top(), 20 + headers[0]->height() + 5);
  EXPECT_EQ(bodies[0]->x(), 22);
  EXPECT_EQ(bodies[0]->width(), 416);
  EXPECT_GT(bodies[0]->height(), bodies[0]->fontMetrics().height());
  // Each separator 16 below its body, the next header 18 below that.
  EXPECT_EQ(headers[1]->y(), bodies[0]->geometry().bottom() + 1 + 16 + 18);
  // The newest (a reply of the user's) first, the maker's after it.
  EXPECT_TRUE(bodies[0]->text().endsWith(" 40"));
  EXPECT_TRUE(headers[0]->text().startsWith(QString::fromStdString(L("messages.you_prefix"))));
  EXPECT_TRUE(bodies[0]->textInteractionFlags().testFlag(Qt::TextSelectableByMouse));
  const int lastSeparator = bodies.back()->geometry().bottom() + 1 + 16;
  EXPECT_EQ(conversation()->height(), lastSeparator + 18 + 10);
  EXPECT_GT(scroll()->verticalScrollBar()->maximum(), 0);
  EXPECT_EQ(scroll()->verticalScrollBar()->value(), 0);
}

// --- replies ---

TEST_F(Messages, SendReply_ReturnSendsTheTrimmedReplyAsAReportWithoutAddressButNotBlankText) {
  openWindow();
  rig.server.answer(200, R"({"ok":true})");
  delegate().replyField->setText(QStringLiteral("  \t  "));
  QTest::keyClick(delegate().replyField, Qt::Key_Return);
  rig.settle();
  EXPECT_EQ(delegate().replyField->text(), QStringLiteral("  \t  "));
  EXPECT_TRUE(rig.client->messageHistory().empty());
  EXPECT_TRUE(rig.requestsTo("/eject/v1/report").empty());

  delegate().replyField->clear();
  QTest::keyClicks(delegate().replyField, QStringLiteral("  Thanks, that worked  "));
  QTest::keyClick(delegate().replyField, Qt::Key_Return);

  EXPECT_TRUE(delegate().replyField->text().isEmpty());
  const auto history = rig.client->messageHistory();
  ASSERT_EQ(history.size(), 1u);
  EXPECT_TRUE(history[0].mine);
  EXPECT_EQ(history[0].body, "Thanks, that worked");
  const auto bodies = conversationLabels("messageBody");
  ASSERT_EQ(bodies.size(), 1u);
  EXPECT_EQ(bodies[0]->text(), "Thanks, that worked");

  rig.settle();
  const auto reports = rig.requestsTo("/eject/v1/report");
  ASSERT_EQ(reports.size(), 1u);
  const nlohmann::json body = nlohmann::json::parse(reports[0].body);
  std::set<std::string> keys;
  for (const auto& [key, value] : body.items())
    keys.insert(key);
  EXPECT_EQ(keys, (std::set<std::string>{"d", "v", "os", "text"}));
  EXPECT_EQ(body["text"], "Thanks, that worked");
  EXPECT_TRUE(rig.app.alerts.shown.empty());
}

TEST_F(Messages, SendReply_EveryFailedReplyShowsItsOwnAlertAndStaysInTheHistory) {
  openWindow();
  rig.server.answer(500, R"({"ok":true})");
  delegate().replyField->setText(QStringLiteral("Will this arrive?"));

  QTest::mouseClick(childNamed<QPushButton>(window(), "sendButton"), Qt::LeftButton);
  EXPECT_TRUE(rig.app.alerts.shown.empty());
  rig.settle();

  ASSERT_EQ(rig.requestsTo("/eject/v1/report").size(), 1u);
  ASSERT_EQ(rig.app.alerts.shown.size(), 1u);
  EXPECT_EQ(rig.app.alerts.shown[0].style, Alert::Style::warning);
  EXPECT_EQ(rig.app.alerts.shown[0].title, L("common.send_failed_title"));
  EXPECT_EQ(rig.app.alerts.shown[0].message, L("messages.send_failed_message"));
  ASSERT_EQ(rig.client->messageHistory().size(), 1u);
  EXPECT_TRUE(rig.client->messageHistory()[0].mine);
  EXPECT_TRUE(delegate().replyField->text().isEmpty());

  // Two replies on their way at once each fail on their own.
  rig.server.answer(200, R"({"ok":"true"})");
  for (const QString& text : {QStringLiteral("one"), QStringLiteral("two")}) {
    delegate().replyField->setText(text);
    delegate().sendReply();
  }
  EXPECT_EQ(rig.app.engineRig.dispatcher.pendingBackground(), 2u);
  rig.settle();
  EXPECT_EQ(rig.app.alertsTitled(L("common.send_failed_title")), 3);
  EXPECT_EQ(rig.client->messageHistory().size(), 3u);
}

} // namespace
