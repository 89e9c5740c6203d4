#include "views/volume_row_view.h"

#include <cmath>

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include "core/localization.h"
#include "views/badge_image_view.h"
#include "views/palette.h"

namespace {

EjectableVolume volume(std::string name, std::string sizeText = "64 GB", bool diskImage = false,
                       bool timeMachine = false) {
  EjectableVolume result;
  result.id = "/media/" + name;
  result.name = std::move(name);
  result.url = result.id;
  result.sizeText = std::move(sizeText);
  result.isDiskImage = diskImage;
  result.isTimeMachine = timeMachine;
  return result;
}

int textWidth(const QString& text, qreal size, QFont::Weight weight) {
  return static_cast<int>(
      std::ceil(QFontMetricsF(systemFont(size, weight)).horizontalAdvance(text)));
}

} // namespace

TEST(VolumeRowLayout, FourHundredWideRowWithFiftyWideSizeText) {
  const auto layout = VolumeRowLayout::compute(400, 40, QSize(50, 14), 0, 120);
  EXPECT_EQ(layout.name.left(), 32);
  EXPECT_EQ(layout.name.width(), 268);
  EXPECT_EQ(layout.name.left() + layout.name.width(), 300);
  EXPECT_EQ(layout.size.left(), 312);
  EXPECT_EQ(layout.size.left() + layout.size.width(), 362);
  EXPECT_EQ(layout.ejectButton, QRect(372, 8, 24, 24));
  EXPECT_EQ(layout.icon, QRect(2, 10, 20, 20));
  EXPECT_EQ(layout.separator, QRect(0, 39, 400, 1));
  EXPECT_TRUE(layout.badge.isEmpty());
}

TEST(VolumeRowLayout, PartsAreCentredVertically) {
  const auto layout = VolumeRowLayout::compute(400, 40, QSize(50, 14), 0, 120);
  EXPECT_EQ(layout.name.top(), 12);
  EXPECT_EQ(layout.size.top(), 13);
  EXPECT_EQ(layout.size.height(), 14);
}

TEST(VolumeRowLayout, WithoutSizeTextTheNameEndsTenBeforeTheButton) {
  const auto layout = VolumeRowLayout::compute(400, 40, QSize(), 0, 120);
  EXPECT_TRUE(layout.size.isEmpty());
  EXPECT_EQ(layout.name.left() + layout.name.width(), layout.ejectButton.left() - 10);
}

TEST(VolumeRowLayout, BadgeReservesItsWidthAndFollowsTheVisibleName) {
  const auto shortName = VolumeRowLayout::compute(400, 40, QSize(50, 14), 80, 50);
  EXPECT_EQ(shortName.name.width(), 268 - 88);
  EXPECT_EQ(shortName.badge, QRect(32 + 50 + 8, 12, 80, 16));

  const auto longName = VolumeRowLayout::compute(400, 40, QSize(50, 14), 80, 900);
  EXPECT_EQ(longName.badge.left(), 32 + longName.name.width() + 8);
}

TEST(VolumeRowLayout, NameNeverNarrowerThanForty) {
  const auto layout = VolumeRowLayout::compute(150, 40, QSize(50, 14), 0, 120);
  EXPECT_EQ(layout.name.width(), 40);
}

TEST(VolumeRowView, PlacesItsPartsInAFourHundredWideRow) {
  VolumeRowView row(QRect(0, 0, 400, 40), volume("Backup Disk", "500 GB"));
  ASSERT_NE(row.sizeLabel(), nullptr);
  const int sizeWidth = row.sizeLabel()->sizeHint().width();
  EXPECT_EQ(row.sizeLabel()->geometry().right() + 1, 362);
  EXPECT_EQ(row.sizeLabel()->width(), sizeWidth);
  EXPECT_EQ(row.nameLabel()->x(), 32);
  EXPECT_EQ(row.nameLabel()->geometry().right() + 1, 362 - sizeWidth - 12);
  EXPECT_EQ(row.nameLabel()->height(), 16);
  EXPECT_EQ(row.ejectButton()->geometry(), QRect(372, 8, 24, 24));
  EXPECT_EQ(row.iconView()->geometry(), QRect(2, 10, 20, 20));
  EXPECT_EQ(row.separator()->geometry(), QRect(0, 39, 400, 1));
  EXPECT_EQ(row.sizeLabel()->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
}

TEST(VolumeRowView, EmptySizeTextAddsNoSizeLabel) {
  VolumeRowView row(QRect(0, 0, 400, 40), volume("Stick", ""));
  EXPECT_EQ(row.sizeLabel(), nullptr);
  EXPECT_TRUE(row.findChildren<QLabel*>().size() == 2) << "icon and name only";
  EXPECT_EQ(row.nameLabel()->geometry().right() + 1, row.ejectButton()->x() - 10);
}

TEST(VolumeRowView, IconFollowsTheKindOfVolume) {
  VolumeRowView image(QRect(0, 0, 400, 40), volume("Installer", "1 GB", true));
  EXPECT_EQ(image.iconSymbol(), "opticaldisc.fill");
  EXPECT_FALSE(image.iconView()->pixmap().isNull());
  VolumeRowView disk(QRect(0, 0, 400, 40), volume("Stick"));
  EXPECT_EQ(disk.iconSymbol(), "externaldrive.fill");
}

TEST(VolumeRowView, EjectButtonCarriesTooltipAndAccessibleName) {
  VolumeRowView row(QRect(0, 0, 400, 40), volume("Photos"));
  EXPECT_EQ(row.ejectButton()->toolTip().toStdString(), L("eject.volume_action", "Photos"));
  EXPECT_EQ(row.ejectButton()->accessibleName().toStdString(), L("eject.icon_accessibility"));
  EXPECT_TRUE(row.ejectButton()->toolTip().contains("Photos"));
  EXPECT_TRUE(row.ejectButton()->autoRaise());
  EXPECT_FALSE(row.ejectButton()->icon().isNull());
}

TEST(VolumeRowView, TimeMachineBadgeSitsEightAfterTheName) {
  VolumeRowView row(QRect(0, 0, 400, 40), volume("Backups", "2 TB", false, true));
  ASSERT_NE(row.timeMachineBadge(), nullptr);
  const QString badgeText = QString::fromStdString(L("eject.time_machine_badge"));
  const int badgeWidth = textWidth(badgeText, 9.5, QFont::DemiBold) + 14;
  const int nameWidth = textWidth("Backups", 12.5, QFont::Medium);
  EXPECT_EQ(row.timeMachineBadge()->geometry(), QRect(32 + nameWidth + 8, 12, badgeWidth, 16));
  const int sizeWidth = row.sizeLabel()->width();
  EXPECT_EQ(row.nameLabel()->width(), 362 - sizeWidth - 12 - (badgeWidth + 8) - 32);
  const auto* text = row.timeMachineBadge()->findChild<QLabel*>();
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->text(), badgeText);
}

TEST(VolumeRowView, OrdinaryVolumesHaveNoBadge) {
  VolumeRowView row(QRect(0, 0, 400, 40), volume("Stick"));
  EXPECT_EQ(row.timeMachineBadge(), nullptr);
}

TEST(VolumeRowView, LongNamesAreCutAtTheEnd) {
  const std::string longName(200, 'W');
  VolumeRowView row(QRect(0, 0, 300, 40), volume(longName));
  const QString shown = row.nameLabel()->text();
  EXPECT_TRUE(shown.endsWith(QChar(0x2026)));
  EXPECT_TRUE(shown.startsWith("WWW"));
  EXPECT_EQ(row.nameLabel()->toolTip().toStdString(), longName);
}

TEST(VolumeRowView, PressingEjectRunsOnEjectOnce) {
  VolumeRowView row(QRect(0, 0, 400, 40), volume("Stick"));
  int calls = 0;
  row.onEject = [&] { ++calls; };
  QTest::mouseClick(row.ejectButton(), Qt::LeftButton);
  EXPECT_EQ(calls, 1);
}

TEST(VolumeRowView, PressingEjectWithoutCallbackDoesNothing) {
  VolumeRowView row(QRect(0, 0, 400, 40), volume("Stick"));
  QTest::mouseClick(row.ejectButton(), Qt::LeftButton);
  SUCCEED();
}

TEST(BadgeImageView, ClicksReachTheButtonBeneath) {
  QWidget window;
  window.resize(120, 80);
  auto* button = new QPushButton("Messages", &window);
  button->setGeometry(10, 10, 60, 40);
  auto* badge = new BadgeImageView(&window);
  badge->setGeometry(50, 10, 20, 20);
  badge->setPixmap(QPixmap::fromImage(quotaBadgeImage(1, 14)));
  auto* opaque = new QLabel(&window); // a plain label for contrast: it is not a button
  opaque->setGeometry(10, 30, 20, 20);
  QSignalSpy clicks(button, &QPushButton::clicked);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

  // Through the window, so that Qt itself finds the widget under the pointer.
  QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, QPoint(60, 20));
  EXPECT_EQ(clicks.count(), 1);
  QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, QPoint(20, 40));
  EXPECT_EQ(clicks.count(), 1) << "an ordinary label swallows the click";
}

TEST(VolumeRowView, ThemeSwitchRecoloursTheRowInPlace) {
  QPalette light;
  light.setColor(QPalette::Window, QColor(236, 236, 236));
  light.setColor(QPalette::WindowText, QColor(20, 20, 20));
  QPalette dark;
  dark.setColor(QPalette::Window, QColor(40, 40, 44));
  dark.setColor(QPalette::WindowText, QColor(235, 235, 240));

  QWidget list;
  list.setPalette(light);
  VolumeRowView row(QRect(0, 0, 400, 40), volume("USB"), &list);
  const qint64 lightIcon = row.iconView()->pixmap().cacheKey();
  const qint64 lightEject = row.ejectButton()->icon().cacheKey();

  list.setPalette(dark); // what the application does on a light/dark switch
  EXPECT_EQ(row.sizeLabel()->palette().color(QPalette::WindowText), tertiaryLabelColor(dark));
  EXPECT_EQ(row.separator()->palette().color(QPalette::WindowText), separatorColor(dark));
  EXPECT_NE(row.iconView()->pixmap().cacheKey(), lightIcon);
  EXPECT_NE(row.ejectButton()->icon().cacheKey(), lightEject);
}
