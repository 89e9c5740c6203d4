#pragma once

#include <functional>
#include <vector>

#include <QLocale>
#include <QString>
#include <QWidget>

#include "core/support/message_history.h"

class FlippedView;
class QLineEdit;

// The conversation with the maker and a reply row. Built once, then its whole content is
// rebuilt on every opening; closing only hides it.
class MessagesWindow : public QWidget {
  Q_OBJECT

 public:
  static constexpr int windowWidth = 460;
  static constexpr int windowHeight = 520;
  static constexpr int conversationHeight = 416;
  static constexpr int textWidth = 416;
  static constexpr int margin = 22;

  explicit MessagesWindow(QWidget* parent = nullptr);

  // Replaces the content with the history (newest first) and a fresh, empty reply field,
  // which it returns. `onSend` runs for the send button and for Return in the field;
  // `onResend` for the "Send Again" button of a reply that was not sent.
  QLineEdit* rebuild(const std::vector<ArchivedMessage>& history, std::function<void()> onSend,
                     std::function<void(const ArchivedMessage&)> onResend = {});
  // Places the window in the middle of its screen's available area.
  void centreOnScreen();
};

// The conversation, laid out to the width it is given, entries from the top, newest first. A
// reply that was not sent says so, with a "Send Again" button that calls `onResend`.
FlippedView* buildConversationView(const std::vector<ArchivedMessage>& history,
                                   const QLocale& locale,
                                   std::function<void(const ArchivedMessage&)> onResend = {});

// Long date and short time in the locale's own order and words.
QString formatMessageDate(SettingsValue::Date date, const QLocale& locale);
