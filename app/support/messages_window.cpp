#include "app/support/messages_window.h"

#include <chrono>
#include <utility>

#include <QDateTime>
#include <QFrame>
#include <QHBoxLayout>
#include <QGuiApplication>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QShortcut>
#include <QVBoxLayout>

#include "core/localization.h"
#include "views/localized_text.h"
#include "views/flipped_view.h"
#include "views/palette.h"

namespace {

// A one-pixel line in the theme's separator colour, as wide as its layout makes it.
QFrame* makeSeparator() {
  auto* line = new QFrame();
  line->setObjectName(QStringLiteral("separator"));
  line->setFrameShape(QFrame::NoFrame);
  line->setAutoFillBackground(true);
  line->setFixedHeight(1);
  QPalette palette = line->palette();
  palette.setColor(QPalette::Window, separatorColor(palette));
  line->setPalette(palette);
  return line;
}

QLabel* makeLeftLabel(const QString& content, qreal size, QFont::Weight weight,
                      const QColor& color) {
  QLabel* label = makeLabel(content, size, weight, color);
  label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  label->setWordWrap(true);
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
  auto* column = new QVBoxLayout(view);
  column->setContentsMargins(W::margin, 20, W::margin, 10);
  column->setSpacing(5);
  if (history.empty()) {
    QLabel* empty = makeLeftLabel(text("messages.empty"), 13, QFont::Normal, secondaryLabelColor());
    empty->setObjectName(QStringLiteral("emptyLabel"));
    empty->setAlignment(Qt::AlignCenter);
    column->addSpacing(40);
    column->addWidget(empty);
  }
  for (const ArchivedMessage& message : history) {
    const QString prefix =
        text(message.mine ? "messages.you_prefix" : "messages.varnelo_labs_prefix");
    // The prefixes carry their own separator.
    QLabel* header =
        makeLeftLabel(prefix + formatMessageDate(message.date, locale), 11, QFont::Medium,
                      message.mine ? tertiaryLabelColor() : varneloMauve());
    header->setObjectName(QStringLiteral("messageHeader"));
    column->addWidget(header);

    // The server's text is shown as it came: never read as markup.
    auto* body = new QLabel();
    body->setObjectName(QStringLiteral("messageBody"));
    body->setTextFormat(Qt::PlainText);
    body->setText(QString::fromStdString(message.body));
    body->setWordWrap(true);
    body->setFont(systemFont(13));
    body->setTextInteractionFlags(Qt::TextSelectableByMouse);
    setLabelColor(body, message.mine ? secondaryLabelColor(body->palette())
                                     : labelColor(body->palette()));
    column->addWidget(body);
    column->addSpacing(8);
    if (!message.sent) {
      QLabel* notSent =
          makeLeftLabel(text("messages.not_sent"), 11, QFont::Medium, tertiaryLabelColor());
      notSent->setObjectName(QStringLiteral("notSentLabel"));
      auto* again = new QPushButton(text("messages.send_again"));
      again->setObjectName(QStringLiteral("sendAgainButton"));
      QObject::connect(again, &QPushButton::clicked, view, [onResend, message]() {
        if (onResend) {
          onResend(message);
        }
      });
      auto* row = new QHBoxLayout();
      row->addWidget(notSent, 1);
      row->addWidget(again);
      column->addLayout(row);
    }
    column->addWidget(makeSeparator());
    column->addSpacing(12);
  }
  column->addStretch(1);
  return view;
}

MessagesWindow::MessagesWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName(QStringLiteral("messagesWindow"));
  setWindowTitle(text("messages.window_title"));
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                 Qt::CustomizeWindowHint);
  // The design's size to start with; fonts, languages and the user may make it larger.
  resize(windowWidth, windowHeight);
  setMinimumWidth(windowWidth * 3 / 4);
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

  auto* scroll = new QScrollArea();
  scroll->setObjectName(QStringLiteral("conversationScroll"));
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  scroll->setFocusPolicy(Qt::NoFocus);
  scroll->viewport()->setAutoFillBackground(false);
  scroll->setWidgetResizable(true);
  scroll->setWidget(buildConversationView(history, QLocale(), std::move(onResend)));
  scroll->setMinimumHeight(conversationHeight / 2);

  auto* field = new QLineEdit();
  field->setObjectName(QStringLiteral("replyField"));
  field->setPlaceholderText(text("messages.reply_placeholder"));
  field->setAccessibleName(text("messages.reply_placeholder"));
  field->setMinimumHeight(40);

  auto* send = new QPushButton(text("common.send"));
  send->setObjectName(QStringLiteral("sendButton"));
  send->setStyleSheet(QStringLiteral("QPushButton { background-color: %1; color: white;"
                                     " border: none; border-radius: 6px; padding: 5px 16px; }"
                                     "QPushButton:pressed { background-color: %2; }")
                          .arg(varneloMauveFixed.name(), varneloMauveFixed.darker(125).name()));

  QLabel* hint = makeLeftLabel(text("messages.hint"), 11, QFont::Normal, tertiaryLabelColor());
  hint->setObjectName(QStringLiteral("hintLabel"));

  auto* reply = new QVBoxLayout();
  reply->setContentsMargins(margin, 12, margin, 14);
  reply->setSpacing(10);
  reply->addWidget(field);
  auto* bottom = new QHBoxLayout();
  bottom->addWidget(hint, 1);
  bottom->addWidget(send);
  reply->addLayout(bottom);
  auto* page = new QVBoxLayout(content);
  page->setContentsMargins(0, 0, 0, 0);
  page->setSpacing(0);
  page->addWidget(scroll, 1);
  page->addWidget(makeSeparator());
  page->addLayout(reply);
  // One content at a time fills the window.
  delete layout();
  auto* whole = new QVBoxLayout(this);
  whole->setContentsMargins(0, 0, 0, 0);
  whole->addWidget(content);

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
