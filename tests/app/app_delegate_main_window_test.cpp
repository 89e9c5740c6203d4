#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QScreen>
#include <QTest>

#include "core/localization.h"
#include "tests/app/app_rig.h"
#include "views/badge_image_view.h"
#include "views/round_eject_button.h"
#include "views/volume_list_view.h"

namespace {

class MainWindow : public testing::Test {
 protected:
  QWidget* mainChild(const char* name) const {
    return childNamed(rig.delegate->mainView.data(), name);
  }

  // A child's frame in the main view's coordinates.
  QRect frameInMainView(const QWidget* widget) const {
    return QRect(widget->mapTo(rig.delegate->mainView, QPoint(0, 0)), widget->size());
  }

  AppRig rig;
};

} // namespace

// --- the window ---

TEST_F(MainWindow, FixedSizeMinimisableCentredWithOurIconAndTheCornerButtons) {
  rig.launch();
  QMainWindow* window = rig.delegate->mainWindow;
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(window->centralWidget()->size(), QSize(430, 589));
  EXPECT_EQ(rig.delegate->mainView->size(), QSize(430, 589));
  EXPECT_EQ(rig.delegate->settingsView->size(), QSize(430, 589));
  // Not resizable: its smallest and largest sizes are the same.
  EXPECT_EQ(window->minimumSize(), window->maximumSize());
  EXPECT_TRUE(window->windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
  EXPECT_FALSE(window->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
  EXPECT_FALSE(window->testAttribute(Qt::WA_DeleteOnClose));
  EXPECT_EQ(window->windowTitle().toStdString(), L("app.name"));
  // Centred before it is first shown, when the frame the desktop adds is not known yet.
  const QRect screen = QApplication::primaryScreen()->availableGeometry();
  EXPECT_NEAR(window->frameGeometry().center().x(), screen.center().x(), 3);
  if (window->frameGeometry().height() < screen.height()) {
    EXPECT_NEAR(window->frameGeometry().center().y(), screen.center().y(), 3);
  }

  EXPECT_FALSE(window->windowIcon().isNull());
  auto* icon = qobject_cast<QLabel*>(mainChild("applicationIcon"));
  ASSERT_NE(icon, nullptr);
  EXPECT_EQ(icon->size(), QSize(92, 92));
  EXPECT_FALSE(icon->pixmap().isNull());

  QWidget* gear = mainChild("settingsButton");
  // Gear 14 in from the corner, the envelope 4 to its left, the badge on its top-right corner.
  for (const auto& [widget, frame] : std::vector<std::pair<QWidget*, QRect>>{
           {gear, QRect(386, 545, 30, 30)},
           {rig.delegate->messagesButton, QRect(352, 545, 30, 30)},
           {rig.delegate->messagesBadge, QRect(368, 545, 14, 14)}}) {
    ASSERT_NE(widget, nullptr);
    EXPECT_EQ(frameInMainView(widget), frame) << widget->objectName().toStdString();
  }
  EXPECT_FALSE(rig.delegate->messagesBadge->isVisible());
  EXPECT_TRUE(rig.delegate->messagesBadge->testAttribute(Qt::WA_TransparentForMouseEvents));
  EXPECT_EQ(gear->toolTip().toStdString(), L("settings.title"));
  EXPECT_EQ(rig.delegate->messagesButton->toolTip().toStdString(), L("accessibility.messages"));
}

// --- main view layout ---

TEST_F(MainWindow, StackHoldsTheSixElementsWithTheirSizesAndSpacings) {
  rig.mount(true, true, false, false);
  rig.launch();
  const QRect icon = frameInMainView(mainChild("applicationIcon"));
  const QRect title = frameInMainView(mainChild("titleLabel"));
  const QRect subtitle = frameInMainView(mainChild("subtitleLabel"));
  const QRect button = frameInMainView(rig.delegate->ejectButton);
  const QRect summary = frameInMainView(rig.delegate->statusLabel);
  const QRect list = frameInMainView(rig.delegate->volumeList);

  EXPECT_EQ(button.size(), QSize(230, 46));
  EXPECT_EQ(list.size(), QSize(366, 120));
  EXPECT_EQ(title.top() - icon.bottom() - 1, 12);
  EXPECT_EQ(subtitle.top() - title.bottom() - 1, 10);
  EXPECT_EQ(button.top() - subtitle.bottom() - 1, 16);
  EXPECT_EQ(summary.top() - button.bottom() - 1, 10);
  // The summary's 8 points below its text are part of its frame.
  EXPECT_EQ(list.top() - summary.bottom() - 1, 0);
  EXPECT_EQ(summary.height() - rig.delegate->statusLabel->contentsRect().height(), 8);
  for (const QRect& frame : {icon, title, subtitle, button, summary, list}) {
    EXPECT_NEAR(frame.center().x() + 0.5, 215, 1);
  }
  // The stack's centre is 4 points above the view's.
  EXPECT_NEAR((icon.top() + list.bottom() + 1) / 2.0, 589 / 2.0 - 4, 1);
}

TEST_F(MainWindow, WithoutVolumesTheSummaryAndItsSpacingLeaveTheStack) {
  // Before the engine's first answer, too.
  AppRig built;
  built.make().buildMainWindow();
  EXPECT_EQ(built.delegate->statusLabel->text().toStdString(), L("eject.no_volumes"));

  rig.launch();

  EXPECT_FALSE(rig.delegate->statusLabel->isVisible());
  const QRect button = frameInMainView(rig.delegate->ejectButton);
  const QRect list = frameInMainView(rig.delegate->volumeList);
  EXPECT_EQ(list.top() - button.bottom() - 1, 10);
  EXPECT_FALSE(rig.delegate->ejectButton->isAvailableState());
}

// --- navigation ---

TEST_F(MainWindow, GearOpensSettingsBackReturnsAndTheViewSurvivesClosingAndReopening) {
  rig.launch();
  ASSERT_TRUE(rig.delegate->mainView->isVisible());
  EXPECT_FALSE(rig.delegate->settingsView->isVisible());
  QTest::mouseClick(mainChild("settingsButton"), Qt::LeftButton);
  EXPECT_FALSE(rig.delegate->mainView->isVisible());
  EXPECT_TRUE(rig.delegate->settingsView->isVisible());
  auto* back = childNamed<QAbstractButton>(rig.delegate->settingsView, "backButton");
  ASSERT_NE(back, nullptr);
  QTest::mouseClick(back, Qt::LeftButton);
  EXPECT_TRUE(rig.delegate->mainView->isVisible());
  EXPECT_FALSE(rig.delegate->settingsView->isVisible());

  rig.delegate->showSettings();
  rig.delegate->mainWindow->close();
  AppRig::flushEvents();
  ASSERT_FALSE(rig.delegate->mainWindow->isVisible());
  rig.delegate->showMainWindow();
  AppRig::flushEvents();
  EXPECT_TRUE(rig.delegate->settingsView->isVisible());
  EXPECT_FALSE(rig.delegate->mainView->isVisible());
}
