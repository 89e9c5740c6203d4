#include "views/round_eject_button.h"

#include <memory>
#include <utility>
#include <vector>

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace {

// While a button is held, the window system sends every move and the release to it, wherever
// the pointer is; these go straight to the button the same way.
void sendMouse(QWidget* widget, QEvent::Type type, QPoint position, Qt::MouseButtons buttons) {
  const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
  QMouseEvent event(type, QPointF(position), widget->mapToGlobal(QPointF(position)), button,
                    buttons, Qt::NoModifier);
  QApplication::sendEvent(widget, &event);
}

void press(QWidget* widget, QPoint position) {
  sendMouse(widget, QEvent::MouseButtonPress, position, Qt::LeftButton);
}
void drag(QWidget* widget, QPoint position) {
  sendMouse(widget, QEvent::MouseMove, position, Qt::LeftButton);
}
void release(QWidget* widget, QPoint position) {
  sendMouse(widget, QEvent::MouseButtonRelease, position, Qt::NoButton);
}

class RoundEjectButtonTest : public testing::Test {
 protected:
  RoundEjectButtonTest() {
    button.resize(230, 46);
    button.setTitle("Eject All");
  }

  RoundEjectButton button;
  QSignalSpy clicks{&button, &RoundEjectButton::clicked};
  const QPoint inside{115, 23};
  const QPoint outside{300, 23};
};

} // namespace

TEST_F(RoundEjectButtonTest, ShapeIsTheBoundsInsetByTwoWithACapsuleRadius) {
  button.resize(100, 40);
  EXPECT_EQ(button.shapeRect(), QRectF(2, 2, 96, 36));
  EXPECT_EQ(button.cornerRadius(), 18);
}

TEST_F(RoundEjectButtonTest, StartsAvailableWithoutCheckOrPress) {
  RoundEjectButton fresh;
  EXPECT_TRUE(fresh.isAvailableState());
  EXPECT_TRUE(fresh.title().isEmpty());
  EXPECT_FALSE(fresh.isPressed());
  EXPECT_FALSE(fresh.isShowingCheck());
}

TEST_F(RoundEjectButtonTest, ClickInsideSendsOnce) {
  press(&button, inside);
  EXPECT_TRUE(button.isPressed());
  release(&button, inside);
  EXPECT_FALSE(button.isPressed());
  EXPECT_EQ(clicks.count(), 1);
}

TEST_F(RoundEjectButtonTest, UnavailableIgnoresThePressEntirely) {
  button.setAvailableState(false);
  press(&button, inside);
  EXPECT_FALSE(button.isPressed());
  release(&button, inside);
  EXPECT_EQ(clicks.count(), 0);
}

TEST_F(RoundEjectButtonTest, DisabledIgnoresThePressEntirely) {
  button.setEnabled(false);
  press(&button, inside);
  EXPECT_FALSE(button.isPressed());
  release(&button, inside);
  EXPECT_EQ(clicks.count(), 0);
}

TEST_F(RoundEjectButtonTest, DragOutAndReleaseOutsideSendsNothing) {
  press(&button, inside);
  drag(&button, outside);
  EXPECT_FALSE(button.isPressed()) << "leaving the button releases the pressed look";
  release(&button, outside);
  EXPECT_FALSE(button.isPressed());
  EXPECT_EQ(clicks.count(), 0);
}

TEST_F(RoundEjectButtonTest, DragOutAndBackInThenReleaseSendsOnce) {
  press(&button, inside);
  drag(&button, outside);
  drag(&button, QPoint(5, 5));
  EXPECT_TRUE(button.isPressed()) << "coming back restores the pressed look";
  release(&button, QPoint(5, 5));
  EXPECT_FALSE(button.isPressed());
  EXPECT_EQ(clicks.count(), 1);
}

TEST_F(RoundEjectButtonTest, MovesWithoutAPressDoNothing) {
  drag(&button, inside);
  EXPECT_FALSE(button.isPressed());
  release(&button, inside);
  EXPECT_EQ(clicks.count(), 0);
}

TEST_F(RoundEjectButtonTest, SecondFlashDoesNotPostponeTheFirstReset) {
  std::vector<std::pair<int, std::function<void()>>> scheduled;
  button.setScheduler([&](int delay, std::function<void()> task) {
    scheduled.emplace_back(delay, std::move(task));
  });
  button.flashDone();
  EXPECT_TRUE(button.isShowingCheck());
  button.flashDone();
  ASSERT_EQ(scheduled.size(), 2u);
  EXPECT_EQ(scheduled[0].first, 1100);
  EXPECT_EQ(scheduled[1].first, 1100);
  scheduled[0].second(); // 1.1 s after the first flash
  EXPECT_FALSE(button.isShowingCheck());
  scheduled[1].second();
  EXPECT_FALSE(button.isShowingCheck());
}

TEST_F(RoundEjectButtonTest, ResetAfterTheButtonIsGoneIsSkipped) {
  std::function<void()> reset;
  {
    RoundEjectButton transient;
    transient.setScheduler([&](int, std::function<void()> task) { reset = std::move(task); });
    transient.flashDone();
  }
  ASSERT_TRUE(reset);
  reset(); // must not touch the destroyed button
}

TEST_F(RoundEjectButtonTest, CheckMarkClearsOnItsOwnWithTheRealTimer) {
  button.flashDone();
  EXPECT_TRUE(button.isShowingCheck());
  // Generous: only the reset happening at all is checked here, not its timing.
  QElapsedTimer waited;
  waited.start();
  while (button.isShowingCheck() && waited.elapsed() < 10000) {
    QTest::qWait(20);
  }
  EXPECT_FALSE(button.isShowingCheck());
}

TEST_F(RoundEjectButtonTest, NeverTakesKeyboardFocus) {
  QWidget window;
  auto* layout = new QVBoxLayout(&window);
  auto* field = new QLineEdit(&window);
  auto* inWindow = new RoundEjectButton(&window);
  inWindow->setMinimumSize(230, 46);
  layout->addWidget(field);
  layout->addWidget(inWindow);
  window.show();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  field->setFocus();
  ASSERT_TRUE(field->hasFocus());

  QTest::mouseClick(inWindow, Qt::LeftButton, {}, QPoint(100, 23));
  EXPECT_TRUE(field->hasFocus());
  EXPECT_EQ(inWindow->focusPolicy(), Qt::NoFocus);
}

TEST_F(RoundEjectButtonTest, LooksDifferAsTheStateChanges) {
  const QPoint probe(20, 23); // inside the capsule, left of the content
  const QColor available = button.grab().toImage().pixelColor(probe);
  EXPECT_GT(available.blue(), available.red() + 60) << "blue gradient";

  press(&button, inside);
  const QColor pressed = button.grab().toImage().pixelColor(probe);
  release(&button, outside);
  EXPECT_LT(pressed.lightness(), available.lightness()) << "darker while pressed";

  button.setAvailableState(false);
  const QColor unavailable = button.grab().toImage().pixelColor(probe);
  EXPECT_LT(std::abs(unavailable.blue() - unavailable.red()), 30) << "grey, no longer blue";
}
