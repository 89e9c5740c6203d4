#include "app/qt_alert_presenter.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

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

QPushButton* buttonTitled(QMessageBox& box, const QString& title) {
  for (QAbstractButton* button : box.buttons()) {
    if (button->text() == title) {
      return qobject_cast<QPushButton*>(button);
    }
  }
  return nullptr;
}

Alert confirmation() {
  return {Alert::Style::warning,
          "Eject “Backups”?",
          "It holds your backups.",
          {"Eject", "Cancel"},
          std::nullopt};
}

} // namespace

TEST(QtAlertPresenter, ReturnsTheIndexOfTheButtonPressedWhereverTheDesktopPutsIt) {
  FakeDisplayEnvironment display;
  QtAlertPresenter presenter(display, []() { return nullptr; });
  whenShown([](QMessageBox& box) { buttonTitled(box, "Cancel")->click(); });
  EXPECT_EQ(presenter.present(confirmation()), 1);
  whenShown([](QMessageBox& box) { buttonTitled(box, "Eject")->click(); });
  EXPECT_EQ(presenter.present(confirmation()), 0);
}

TEST(QtAlertPresenter, ShowsTitleAndMessageAndActivatesFirst) {
  FakeDisplayEnvironment display;
  QtAlertPresenter presenter(display, []() { return nullptr; });
  QString text;
  QString informative;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  whenShown([&](QMessageBox& box) {
    text = box.text();
    informative = box.informativeText();
    icon = box.icon();
    box.buttons().front()->click();
  });
  presenter.present(confirmation());
  EXPECT_TRUE(text.contains("Eject “Backups”?"));
  EXPECT_TRUE(informative.contains("It holds your backups."));
  EXPECT_EQ(icon, QMessageBox::Warning);
  EXPECT_GE(display.activations, 1);
}

TEST(QtAlertPresenter, EscapeAnswersWithTheSecondButtonOrTheOnlyOne) {
  FakeDisplayEnvironment display;
  QtAlertPresenter presenter(display, []() { return nullptr; });
  whenShown([](QMessageBox& box) { QTest::keyClick(&box, Qt::Key_Escape); });
  EXPECT_EQ(presenter.present(confirmation()), 1);

  whenShown([](QMessageBox& box) {
    EXPECT_EQ(box.buttons().size(), 1);
    QTest::keyClick(&box, Qt::Key_Escape);
  });
  EXPECT_EQ(presenter.present({Alert::Style::critical, "Title", "Message", {}, std::nullopt}), 0);
}

TEST(QtAlertPresenter, MarkupInTextsIsShownAsWritten) {
  FakeDisplayEnvironment display;
  QtAlertPresenter presenter(display, []() { return nullptr; });
  QString text;
  whenShown([&](QMessageBox& box) {
    text = box.text();
    box.buttons().front()->click();
  });
  presenter.present({Alert::Style::warning, "Disk <b>&amp;", "x", {}, std::nullopt});
  EXPECT_TRUE(text.contains("Disk &lt;b&gt;&amp;amp;"));
}
