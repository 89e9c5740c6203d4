#include "app/support/messages_window.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include <QDateTime>
#include <QFrame>
#include <QGuiApplication>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QShortcut>

#include "core/localization.h"
#include "views/flipped_view.h"
#include "views/palette.h"

namespace {

QString text(const char* key) {
  return QString::fromStdString(L(key));
}

// A one-pixel line in the theme's separator colour.
QFrame* makeSeparator(QWidget* parent, const QRect& frame) {
  auto* line = new QFrame(parent);
  line->setObjectName(QStringLiteral("separator"));
  line->setFrameShape(QFrame::NoFrame);
  line->setAutoFillBackground(true);
  QPalette palette = line->palette();
  palette.setColor(QPalette::Window, separatorColor(palette));
  line->setPalette(palette);
  line->setGeometry(frame);
  return line;
}

QLabel* makeLeftLabel(const QString& content, qreal size, QFont::Weight weight, const QColor& color,
                      QWidget* parent) {
  QLabel* label = makeLabel(content, size, weight, color, parent);
  label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  label->adjustSize();
  return label;
}

} // namespace

QString formatMessageDate(SettingsValue::Date date, const QLocale& locale) {
  const auto milliseconds =
      std::chrono::duration_cast<std::chrono::milliseconds>(date.time_since_epoch()).count();
  const QDateTime local = QDateTime::fromMSecsSinceEpoch(milliseconds).toLocalTime();
  return locale.toString(local, locale.dateFormat(QLocale::LongFormat) + QLatin1Char(' ') +
                                    locale.timeFormat(QLocale::ShortFormat));
}

FlippedView* buildConversationView(const std::vector<ArchivedMessage>& history,
                                   const QLocale& locale,
                                   std::function<void(const ArchivedMessage&)> onResend) {
  using W = MessagesWindow;
  auto* view = new FlippedView();
  view->setObjectName(QStringLiteral("conversation"));
  int height = W::conversationHeight;
  if (history.empty()) {
    QLabel* empty =
        makeLeftLabel(text("messages.empty"), 13, QFont::Normal, secondaryLabelColor(), view);
    empty->setObjectName(QStringLiteral("emptyLabel"));
    empty->move(static_cast<int>((W::windowWidth - empty->width()) * 0.5), 60);
  } else {
    int y = 20;
    for (const ArchivedMessage& message : history) {
      const QString prefix =
          text(message.mine ? "messages.you_prefix" : "messages.varnelo_labs_prefix");
      // The prefixes carry their own separator.
      QLabel* header =
          makeLeftLabel(prefix + formatMessageDate(message.date, locale), 11, QFont::Medium,
                        message.mine ? tertiaryLabelColor() : varneloMauve(), view);
      header->setObjectName(QStringLiteral("messageHeader"));
      header->move(W::margin, y);
      const int bodyTop = y + header->height() + 5;

      // The server's text is shown as it came: never read as markup.
      auto* body = new QLabel(view);
      body->setObjectName(QStringLiteral("messageBody"));
      body->setTextFormat(Qt::PlainText);
      body->setText(QString::fromStdString(message.body));
      body->setWordWrap(true);
      body->setFont(systemFont(13));
      body->setTextInteractionFlags(Qt::TextSelectableByMouse);
      setLabelColor(body, message.mine ? secondaryLabelColor(body->palette())
                                       : labelColor(body->palette()));
      const int bodyHeight = body->heightForWidth(W::textWidth);
      body->setGeometry(W::margin, bodyTop, W::textWidth, bodyHeight);

      y = bodyTop + bodyHeight + 16;
      if (!message.sent) {
        QLabel* notSent =
            makeLeftLabel(text("messages.not_sent"), 11, QFont::Medium, tertiaryLabelColor(), view);
        notSent->setObjectName(QStringLiteral("notSentLabel"));
        auto* again = new QPushButton(text("messages.send_again"), view);
        again->setObjectName(QStringLiteral("sendAgainButton"));
        again->resize(again->sizeHint());
        const int rowHeight = std::max(notSent->height(), again->height());
        notSent->move(W::margin, y - 8 + (rowHeight - notSent->height()) / 2);
        again->move(W::margin + W::textWidth - again->width(), y - 8);
        QObject::connect(again, &QPushButton::clicked, view, [onResend, message]() {
          if (onResend) {
            onResend(message);
          }
        });
        y += rowHeight + 8;
      }
      makeSeparator(view, QRect(W::margin, y, W::textWidth, 1));
      y += 18;
    }
    height = std::max(y + 10, W::conversationHeight);
  }
  view->setGeometry(0, 0, W::windowWidth, height);
  return view;
}

MessagesWindow::MessagesWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName(QStringLiteral("messagesWindow"));
  setWindowTitle(text("messages.window_title"));
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                 Qt::CustomizeWindowHint);
  setFixedSize(windowWidth, windowHeight);
  // The main menu, with its Close item, lives on the main window; this one closes itself.
  auto* close = new QShortcut(QKeySequence::Close, this);
  connect(close, &QShortcut::activated, this, &QWidget::close);
}

QLineEdit* MessagesWindow::rebuild(const std::vector<ArchivedMessage>& history,
                                   std::function<void()> onSend,
                                   std::function<void(const ArchivedMessage&)> onResend) {
  // The old content may be what called us (its send button), so it goes once the event ends.
  for (QWidget* old :
       findChildren<QWidget*>(QStringLiteral("messagesContent"), Qt::FindDirectChildrenOnly)) {
    old->hide();
    old->setParent(nullptr);
    old->deleteLater();
  }

  auto* content = new QWidget(this);
  content->setObjectName(QStringLiteral("messagesContent"));
  content->setGeometry(0, 0, windowWidth, windowHeight);

  auto* scroll = new QScrollArea(content);
  scroll->setObjectName(QStringLiteral("conversationScroll"));
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  scroll->viewport()->setAutoFillBackground(false);
  scroll->setWidgetResizable(false);
  scroll->setWidget(buildConversationView(history, QLocale(), std::move(onResend)));
  scroll->setGeometry(0, 0, windowWidth, conversationHeight);

  makeSeparator(content, QRect(0, conversationHeight, windowWidth, 1));

  auto* field = new QLineEdit(content);
  field->setObjectName(QStringLiteral("replyField"));
  field->setPlaceholderText(text("messages.reply_placeholder"));
  field->setGeometry(margin, windowHeight - 52 - 40, textWidth, 40);

  auto* send = new QPushButton(text("common.send"), content);
  send->setObjectName(QStringLiteral("sendButton"));
  send->setStyleSheet(QStringLiteral("QPushButton { background-color: %1; color: white;"
                                     " border: none; border-radius: 6px; padding: 5px 16px; }"
                                     "QPushButton:pressed { background-color: %2; }")
                          .arg(varneloMauveFixed.name(), varneloMauveFixed.darker(125).name()));
  send->resize(send->sizeHint());
  send->move(margin + textWidth - send->width(), windowHeight - 14 - send->height());

  QLabel* hint =
      makeLeftLabel(text("messages.hint"), 11, QFont::Normal, tertiaryLabelColor(), content);
  hint->setObjectName(QStringLiteral("hintLabel"));
  hint->move(margin, windowHeight - 20 - hint->height());

  connect(send, &QPushButton::clicked, this, [onSend]() { onSend(); });
  connect(field, &QLineEdit::returnPressed, this, [onSend]() { onSend(); });

  content->show();
  field->setFocus(Qt::OtherFocusReason);
  return field;
}

void MessagesWindow::centreOnScreen() {
  const QScreen* target = screen() != nullptr ? screen() : QGuiApplication::primaryScreen();
  if (target == nullptr) {
    return;
  }
  QRect frame = geometry();
  frame.moveCenter(target->availableGeometry().center());
  move(frame.topLeft());
}
