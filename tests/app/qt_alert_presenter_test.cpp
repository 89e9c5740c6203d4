#include "app/qt_alert_presenter.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLayout>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTextDocument>
#include <QTimer>

#include "app/display_mode_controller.h"
#include "tests/app/fake_display_environment.h"

namespace {

// Presents the alert and acts on its message box once it is up and running modally.
int present(const Alert& alert, std::function<void(QMessageBox&)> act) {
  FakeDisplayEnvironment display;
  QtAlertPresenter presenter{display, []() { return nullptr; }};
  QTimer::singleShot(0, [act, &display]() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    EXPECT_GE(display.activations, 1);
    act(*box);
  });
  return presenter.present(alert);
}

// What a label really displays: rich text as a reader sees it, plain text as it stands.
QString shown(const QMessageBox& box, const char* label) {
  const QString text = box.findChild<QLabel*>(QString::fromLatin1(label))->text();
  QTextDocument document;
  document.setHtml(text);
  return Qt::mightBeRichText(text) ? document.toPlainText().trimmed() : text;
}

} // namespace

TEST(QtAlertPresenter, ShowsTitleAndMessageAsWrittenAndALongMessageScrollsUnderItsTitle) {
  Alert alert{.style = Alert::Style::warning,
              .title = "Eject “Backups”? Disk <b>&amp;",
              .message = "Tom & \"Jerry\" <i>",
              .buttons = {"Eject", "Cancel"},
              .icon = std::nullopt};
  present(alert, [&](QMessageBox& box) {
    EXPECT_EQ(shown(box, "qt_msgbox_label"), QString::fromStdString(alert.title));
    EXPECT_EQ(shown(box, "qt_msgbox_informativelabel"), QString::fromStdString(alert.message));
    EXPECT_EQ(box.icon(), QMessageBox::Warning);
    box.buttons().front()->click();
  });
  QString message;
  for (int line = 0; line < 300; ++line) {
    message += QStringLiteral("Line %1 of what the server said <b>&amp;\n").arg(line);
  }
  alert.message = message.toStdString();
  present(alert, [&](QMessageBox& box) {
    auto* text = box.findChild<QPlainTextEdit*>(QStringLiteral("longMessage"));
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->toPlainText(), message);
    EXPECT_GE(box.layout()->indexOf(text), 0); // laid out, not floating
    // The title stands on top, as wide as the text, not squeezed into a column beside it.
    const QWidget* title = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
    EXPECT_LE(title->geometry().bottom(), text->geometry().top());
    EXPECT_GE(title->width(), text->width() - 1);
    EXPECT_LE(box.sizeHint().height(), box.screen()->availableGeometry().height());
    box.buttons().front()->click();
  });
}

TEST(QtAlertPresenter, AnswersWithTheButtonPressedWhereverTheDesktopPutsIt) {
  struct Case {
    const char* press; // a title, "Escape" or "Close"
    std::vector<std::string> buttons;
    int answer;
    bool firstLaunch = false; // the first-launch question: only its second button is the tray
  };
  for (const Case& test :
       {Case{"Cancel", {"Eject", "Cancel"}, 1}, Case{"Eject", {"Eject", "Cancel"}, 0},
        Case{"Escape", {"Eject", "Cancel"}, 1}, Case{"Escape", {}, 0}, Case{"Escape", {}, 0, true},
        Case{"Close", {}, 0, true}}) {
    SCOPED_TRACE(std::string(test.press) + (test.firstLaunch ? " first launch" : ""));
    const Alert alert{.style = Alert::Style::informational,
                      .title = "Eject?",
                      .message = "",
                      .buttons = test.buttons,
                      .icon = std::nullopt};
    const int answer =
        present(test.firstLaunch ? DisplayModeController::onboardingQuestion() : alert,
                [&](QMessageBox& box) {
                  if (std::string(test.press) == "Escape")
                    QTest::keyClick(&box, Qt::Key_Escape);
                  else if (std::string(test.press) == "Close")
                    box.close();
                  for (QAbstractButton* button : box.buttons()) {
                    if (button->text() == QString::fromUtf8(test.press))
                      button->click();
                  }
                });
    EXPECT_EQ(answer, test.answer);
  }
}
