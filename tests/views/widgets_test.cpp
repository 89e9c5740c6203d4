#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include "views/elided_label.h"
#include "views/round_eject_button.h"
#include "views/volume_row_view.h"

namespace {

EjectableVolume volumeNamed(const std::string& name) {
  EjectableVolume volume;
  volume.id = "/media/user/" + name;
  volume.name = name;
  volume.sizeText = "16 GB";
  return volume;
}

} // namespace

TEST(RoundEjectButton, KeyboardAndMouseClickOnlyWhileThereIsSomethingToEject) {
  struct Case {
    bool available;
    int key; // 0: a mouse click
    int clicks;
  };
  for (const Case& test :
       {Case{true, Qt::Key_Space, 1}, Case{true, Qt::Key_Return, 1}, Case{true, 0, 1},
        Case{false, Qt::Key_Space, 0}, Case{false, Qt::Key_Return, 0}, Case{false, 0, 0}}) {
    SCOPED_TRACE(testing::Message() << test.available << " " << test.key);
    RoundEjectButton button;
    button.setTitle(QStringLiteral("Eject all"));
    button.resize(button.sizeHint());
    button.setAvailableState(test.available);
    QSignalSpy clicked(&button, &RoundEjectButton::clicked);
    if (test.key == 0) {
      QTest::mouseClick(&button, Qt::LeftButton);
    } else {
      QTest::keyClick(&button, static_cast<Qt::Key>(test.key));
    }
    QTest::qWait(200);
    EXPECT_EQ(clicked.count(), test.clicks);
    EXPECT_TRUE(button.focusPolicy() & Qt::TabFocus);
    EXPECT_EQ(button.accessibleName(), QStringLiteral("Eject all"));
  }
}

TEST(RoundEjectButton, GrowsForALongTitleInsteadOfClippingIt) {
  RoundEjectButton button;
  button.setTitle(QStringLiteral("Éjecter tous les volumes externes maintenant"));
  const QFontMetrics metrics(button.font());
  EXPECT_GT(button.sizeHint().width(), metrics.horizontalAdvance(button.title()));
}

TEST(VolumeRowView, EjectButtonIsReachedAndPressedFromTheKeyboard) {
  for (const int key : {Qt::Key_Space, Qt::Key_Return}) {
    VolumeRowView row(volumeNamed("USB"));
    auto* button = row.findChild<QToolButton*>();
    EXPECT_TRUE(button->focusPolicy() & Qt::TabFocus);
    EXPECT_FALSE(button->accessibleName().isEmpty());
    QSignalSpy ejected(&row, &VolumeRowView::ejectRequested);
    QTest::keyClick(button, static_cast<Qt::Key>(key));
    QTest::qWait(200);
    ASSERT_EQ(ejected.count(), 1);
    EXPECT_EQ(ejected.front().front().value<EjectableVolume>().id, "/media/user/USB");
  }
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
