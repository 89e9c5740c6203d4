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

Alert confirmation(const std::string& title = "Eject “Backups”?") {
  return {
      Alert::Style::warning, title, "It holds your backups.", {"Eject", "Cancel"}, std::nullopt};
}

class QtAlertPresenterTest : public testing::Test {
 protected:
  FakeDisplayEnvironment display;
  QtAlertPresenter presenter{display, []() { return nullptr; }};
};

} // namespace

TEST_F(QtAlertPresenterTest, ReturnsTheIndexOfTheButtonPressedWhereverTheDesktopPutsIt) {
  whenShown([](QMessageBox& box) { buttonTitled(box, "Cancel")->click(); });
  EXPECT_EQ(presenter.present(confirmation()), 1);
  whenShown([](QMessageBox& box) { buttonTitled(box, "Eject")->click(); });
  EXPECT_EQ(presenter.present(confirmation()), 0);
}

TEST_F(QtAlertPresenterTest, ShowsTitleAndMessageAsWrittenEvenWithMarkupAndActivatesFirst) {
  QString text;
  QString informative;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  whenShown([&](QMessageBox& box) {
    text = box.text();
    informative = box.informativeText();
    icon = box.icon();
    box.buttons().front()->click();
  });
  presenter.present(confirmation("Eject “Backups”? Disk <b>&amp;"));
  EXPECT_TRUE(text.contains("Eject “Backups”? Disk &lt;b&gt;&amp;amp;"));
  EXPECT_TRUE(informative.contains("It holds your backups."));
  EXPECT_EQ(icon, QMessageBox::Warning);
  EXPECT_GE(display.activations, 1);
}

TEST_F(QtAlertPresenterTest, EscapeAnswersWithTheSecondButtonOrTheOnlyOne) {
  whenShown([](QMessageBox& box) { QTest::keyClick(&box, Qt::Key_Escape); });
  EXPECT_EQ(presenter.present(confirmation()), 1);

  whenShown([](QMessageBox& box) {
    EXPECT_EQ(box.buttons().size(), 1);
    QTest::keyClick(&box, Qt::Key_Escape);
  });
  EXPECT_EQ(presenter.present({Alert::Style::critical, "Title", "Message", {}, std::nullopt}), 0);
}
