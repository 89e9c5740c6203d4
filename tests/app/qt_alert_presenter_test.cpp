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

// Acts on the message box once it is up and running modally.
void whenShown(std::function<void(QMessageBox&)> act) {
  QTimer::singleShot(0, [act]() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    act(*box);
  });
}

Alert confirmation(const std::string& title = "Eject “Backups”?") {
  return {.style = Alert::Style::warning,
          .title = title,
          .message = "It holds your backups.",
          .buttons = {"Eject", "Cancel"},
          .icon = std::nullopt};
}

class QtAlertPresenterTest : public testing::Test {
 protected:
  FakeDisplayEnvironment display;
  QtAlertPresenter presenter{display, []() { return nullptr; }};
};

} // namespace

TEST_F(QtAlertPresenterTest, ShowsTitleAndMessageAsWrittenEvenWithMarkupAndActivatesFirst) {
  // What the label really displays: rich text as a reader sees it, plain text as it stands.
  const auto shown = [](const QMessageBox& box, const char* label) {
    const QString text = box.findChild<QLabel*>(QString::fromLatin1(label))->text();
    QTextDocument document;
    document.setHtml(text);
    return Qt::mightBeRichText(text) ? document.toPlainText().trimmed() : text;
  };
  QString title;
  QString informative;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  whenShown([&](QMessageBox& box) {
    title = shown(box, "qt_msgbox_label");
    informative = shown(box, "qt_msgbox_informativelabel");
    icon = box.icon();
    box.buttons().front()->click();
  });
  Alert alert = confirmation("Eject “Backups”? Disk <b>&amp;");
  alert.message = "Tom & \"Jerry\" <i>";
  presenter.present(alert);
  EXPECT_EQ(title, QString::fromUtf8("Eject “Backups”? Disk <b>&amp;"));
  EXPECT_EQ(informative, QStringLiteral("Tom & \"Jerry\" <i>"));
  EXPECT_EQ(icon, QMessageBox::Warning);
  EXPECT_GE(display.activations, 1);
}

TEST_F(QtAlertPresenterTest, AnswersWithTheButtonPressedWhereverTheDesktopPutsIt) {
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
    whenShown([&](QMessageBox& box) {
      if (std::string(test.press) == "Escape") {
        QTest::keyClick(&box, Qt::Key_Escape);
      } else if (std::string(test.press) == "Close") {
        box.close();
      }
      for (QAbstractButton* button : box.buttons()) {
        if (button->text() == QString::fromUtf8(test.press)) {
          button->click();
        }
      }
    });
    Alert alert = confirmation();
    alert.buttons = test.buttons;
    EXPECT_EQ(
        presenter.present(test.firstLaunch ? DisplayModeController::onboardingQuestion() : alert),
        test.answer);
  }
}

TEST_F(QtAlertPresenterTest, LongMessageScrollsUnderItsTitleSoTheButtonsStayOnScreen) {
  QString message;
  for (int line = 0; line < 300; ++line) {
    message += QStringLiteral("Line %1 of what the server said <b>&amp;\n").arg(line);
  }
  whenShown([&](QMessageBox& box) {
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
  Alert alert = confirmation();
  alert.message = message.toStdString();
  presenter.present(alert);
}
