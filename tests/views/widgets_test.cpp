#include <gtest/gtest.h>

#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include "views/elided_label.h"
#include "views/round_eject_button.h"
#include "views/volume_list_view.h"

TEST(RoundEjectButton, KeyboardAndMouseClickOnlyWhileThereIsSomethingToEject) {
  for (const bool available : {true, false}) {
    for (const int key : {int(Qt::Key_Space), int(Qt::Key_Return), 0}) { // 0: a mouse click
      SCOPED_TRACE(testing::Message() << available << " " << key);
      RoundEjectButton button;
      button.setTitle(QStringLiteral("Eject all"));
      button.resize(button.sizeHint());
      button.setAvailableState(available);
      QSignalSpy clicked(&button, &RoundEjectButton::clicked);
      key == 0 ? QTest::mouseClick(&button, Qt::LeftButton)
               : QTest::keyClick(&button, static_cast<Qt::Key>(key));
      QTest::qWait(200);
      EXPECT_EQ(clicked.count(), available ? 1 : 0);
      EXPECT_EQ(button.accessibleName(), QStringLiteral("Eject all"));
    }
  }
  // A long title makes it grow rather than clip.
  RoundEjectButton button;
  button.setTitle(QStringLiteral("Éjecter tous les volumes externes maintenant"));
  EXPECT_GT(button.sizeHint().width(),
            QFontMetrics(button.font()).horizontalAdvance(button.title()));
}

TEST(ElidedLabel, LongTextKeepsBothEndsAndShowsInFullInTheTooltip) {
  const QString name = QStringLiteral("Start") + QString(240, QLatin1Char('x')) + "End";
  ElidedLabel label(name);
  label.show();
  label.resize(200, 20);
  EXPECT_TRUE(label.text().startsWith(QStringLiteral("Start")));
  EXPECT_TRUE(label.text().endsWith(QStringLiteral("End")));
  EXPECT_LE(QFontMetrics(label.font()).horizontalAdvance(label.text()), 200);
  EXPECT_EQ(label.toolTip(), name);

  label.resize(QFontMetrics(label.font()).horizontalAdvance(name) + 10, 20);
  EXPECT_EQ(label.text(), name);
  EXPECT_TRUE(label.toolTip().isEmpty());
}

TEST(VolumeListView, KeepsWhereTheUserScrolledWhenVolumesComeAndGo) {
  std::vector<EjectableVolume> volumes(20);
  for (std::size_t index = 0; index < volumes.size(); ++index) {
    volumes[index].id = volumes[index].name = "Disk " + std::to_string(index);
  }
  VolumeListView list;
  list.resize(300, 150);
  list.setVolumes(volumes);
  list.show();
  QScrollBar* bar = list.findChild<QScrollArea*>()->verticalScrollBar();
  ASSERT_TRUE(QTest::qWaitFor([&]() { return bar->maximum() > 200; }));
  bar->setValue(200);
  volumes.pop_back();
  list.setVolumes(volumes);
  QTest::qWait(50);
  EXPECT_EQ(bar->value(), 200);
}
