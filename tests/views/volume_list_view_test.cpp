#include "views/volume_list_view.h"

#include <memory>

#include <QApplication>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include "core/localization.h"
#include "views/flipped_view.h"
#include "views/volume_row_view.h"

namespace {

std::vector<EjectableVolume> volumes(int count) {
  std::vector<EjectableVolume> result;
  for (int index = 0; index < count; ++index) {
    EjectableVolume volume;
    volume.name = "Volume " + std::to_string(index);
    volume.id = "/media/volume" + std::to_string(index);
    volume.url = volume.id;
    volume.sizeText = std::to_string(index + 1) + " GB";
    result.push_back(volume);
  }
  return result;
}

void deleteRemovedRows() {
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

class VolumeListViewTest : public testing::Test {
 protected:
  ~VolumeListViewTest() override {
    list.reset();
    deleteRemovedRows();
  }

  std::unique_ptr<VolumeListView> list = std::make_unique<VolumeListView>(QRect(0, 0, 400, 300));
  int scrollerWidth() const {
    return list->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr,
                                      list->scrollArea()->verticalScrollBar());
  }
};

} // namespace

TEST_F(VolumeListViewTest, EmptyListShowsTheNoVolumesText) {
  list->update(volumes(3));
  list->update({});
  EXPECT_TRUE(list->emptyLabel()->isVisibleTo(list.get()));
  EXPECT_FALSE(list->scrollArea()->isVisibleTo(list.get()));
  EXPECT_TRUE(list->rows().isEmpty());
  EXPECT_TRUE(list->content()->children().isEmpty());
  EXPECT_EQ(list->emptyLabel()->text().toStdString(), L("eject.no_volumes"));
  EXPECT_EQ(list->emptyLabel()->alignment(), Qt::AlignCenter);
}

TEST_F(VolumeListViewTest, EmptyTextFollowsAThemeChange) {
  QPalette dark = list->palette();
  dark.setColor(QPalette::WindowText, QColor(240, 240, 240));
  list->setPalette(dark);
  const QColor shown = list->emptyLabel()->palette().color(QPalette::WindowText);
  EXPECT_EQ(shown.rgb(), QColor(240, 240, 240).rgb());
  EXPECT_LT(shown.alpha(), 255);
}

TEST_F(VolumeListViewTest, VolumesHideTheEmptyText) {
  list->update(volumes(1));
  EXPECT_FALSE(list->emptyLabel()->isVisibleTo(list.get()));
  EXPECT_TRUE(list->scrollArea()->isVisibleTo(list.get()));
}

TEST_F(VolumeListViewTest, SevenRowsFitAndUseTheFullWidth) {
  list->update(volumes(7));
  const auto rows = list->rows();
  ASSERT_EQ(rows.size(), 7);
  for (const VolumeRowView* row : rows) {
    EXPECT_EQ(row->width(), 400);
  }
  EXPECT_EQ(list->content()->size(), QSize(400, 300));
}

TEST_F(VolumeListViewTest, EightRowsLeaveRoomForTheScroller) {
  list->update(volumes(8));
  const auto rows = list->rows();
  ASSERT_EQ(rows.size(), 8);
  ASSERT_GT(scrollerWidth(), 0);
  for (const VolumeRowView* row : rows) {
    EXPECT_EQ(row->width(), 400 - scrollerWidth());
  }
  EXPECT_EQ(list->content()->size(), QSize(400 - scrollerWidth(), 320));

  // The scroller really takes that room: the rows fill what is left, no more.
  list->show();
  QCoreApplication::processEvents();
  EXPECT_TRUE(list->scrollArea()->verticalScrollBar()->isVisible());
  EXPECT_EQ(list->scrollArea()->viewport()->width(), rows[0]->width());
}

TEST_F(VolumeListViewTest, RowsFillingTheHeightExactlyNeedNoScroller) {
  list->resize(400, 320);
  list->update(volumes(8));
  EXPECT_EQ(list->rows()[0]->width(), 400);
  EXPECT_EQ(list->content()->size(), QSize(400, 320));
}

TEST_F(VolumeListViewTest, FewRowsSitAtTheTopOfAFullHeightContent) {
  list->update(volumes(2));
  const auto rows = list->rows();
  ASSERT_EQ(rows.size(), 2);
  EXPECT_EQ(rows[0]->geometry(), QRect(0, 0, 400, 40));
  EXPECT_EQ(rows[1]->geometry(), QRect(0, 40, 400, 40));
  EXPECT_EQ(list->content()->height(), 300);
}

TEST_F(VolumeListViewTest, RowsFollowTheGivenOrder) {
  auto given = volumes(3);
  std::swap(given[0], given[2]);
  list->update(given);
  const auto rows = list->rows();
  ASSERT_EQ(rows.size(), 3);
  EXPECT_EQ(rows[0]->nameLabel()->text(), "Volume 2");
  EXPECT_EQ(rows[1]->nameLabel()->text(), "Volume 1");
  EXPECT_EQ(rows[2]->nameLabel()->text(), "Volume 0");
  EXPECT_LT(rows[0]->y(), rows[1]->y());
}

TEST_F(VolumeListViewTest, UpdateReplacesEveryRow) {
  list->update(volumes(5));
  list->update(volumes(2));
  EXPECT_EQ(list->rows().size(), 2);
}

TEST_F(VolumeListViewTest, PressingARowEjectsThatRowsVolumeOnce) {
  std::vector<EjectableVolume> received;
  list->onEjectRow = [&](const EjectableVolume& volume) { received.push_back(volume); };
  list->update(volumes(3));
  QTest::mouseClick(list->rows()[1]->ejectButton(), Qt::LeftButton);
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].id, "/media/volume1");
  EXPECT_EQ(received[0].name, "Volume 1");
  EXPECT_EQ(received[0].sizeText, "2 GB");
}

TEST_F(VolumeListViewTest, PressingARowWithoutHandlerDoesNothing) {
  list->update(volumes(1));
  QTest::mouseClick(list->rows()[0]->ejectButton(), Qt::LeftButton);
  SUCCEED();
}

TEST_F(VolumeListViewTest, HandlerMayRebuildTheListFromInsideTheClick) {
  int calls = 0;
  list->onEjectRow = [&](const EjectableVolume&) {
    ++calls;
    list->update(volumes(1));
  };
  list->update(volumes(2));
  QTest::mouseClick(list->rows()[0]->ejectButton(), Qt::LeftButton);
  deleteRemovedRows();
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(list->rows().size(), 1);
}

TEST_F(VolumeListViewTest, RowOutlivingItsListDoesNothing) {
  int calls = 0;
  list->onEjectRow = [&](const EjectableVolume&) { ++calls; };
  list->update(volumes(1));
  std::unique_ptr<VolumeRowView> row(list->rows()[0]);
  row->setParent(nullptr);
  list.reset();
  row->show();
  QTest::mouseClick(row->ejectButton(), Qt::LeftButton);
  EXPECT_EQ(calls, 0);
}

TEST_F(VolumeListViewTest, ScrollAreaAndEmptyTextFollowTheListsSize) {
  list->show();
  list->resize(366, 120);
  EXPECT_EQ(list->scrollArea()->geometry(), QRect(0, 0, 366, 120));
  EXPECT_EQ(list->emptyLabel()->geometry(), QRect(0, 0, 366, 120));
}
