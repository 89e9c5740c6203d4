#include "views/status_item_controller.h"

#include <optional>

#include <QApplication>
#include <QMenu>
#include <QTest>

#include <gtest/gtest.h>

#include "core/eject_settings.h"
#include "core/localization.h"

namespace {

// The colour of the fully opaque pixels of the icon, if they all share one.
std::optional<QRgb> solidColor(const QImage& source) {
  const QImage image = source.convertToFormat(QImage::Format_ARGB32);
  std::optional<QRgb> found;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const QRgb pixel = image.pixel(x, y);
      if (qAlpha(pixel) != 255) {
        continue;
      }
      if (found && *found != pixel) {
        return std::nullopt;
      }
      found = pixel;
    }
  }
  return found;
}

QPalette paletteWithWindow(QColor window) {
  QPalette palette;
  palette.setColor(QPalette::Window, window);
  return palette;
}

class StatusItemControllerTest : public testing::Test {
 protected:
  StatusItemControllerTest() : savedPalette_(QApplication::palette()) {
    savedColor_ = EjectSettings::defaults().object(EjectSettings::statusColorKey);
    EjectSettings::defaults().remove(EjectSettings::statusColorKey);
    QApplication::setPalette(paletteWithWindow(QColor(240, 240, 240)));
    controller.onEjectAll = [this] { ++ejectAllCalls; };
  }

  ~StatusItemControllerTest() override {
    if (QMenu* menu = controller.openMenu()) {
      menu->close();
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    if (savedColor_) {
      EjectSettings::defaults().set(EjectSettings::statusColorKey, *savedColor_);
    } else {
      EjectSettings::defaults().remove(EjectSettings::statusColorKey);
    }
    QApplication::setPalette(savedPalette_);
  }

  void enableWithMenu() {
    controller.enable([this] {
      ++menusBuilt;
      auto* menu = new QMenu;
      menu->addAction("Eject All");
      return menu;
    });
  }

  // Closes the open status menu as a user would, and lets it be deleted.
  void closeMenu() {
    QMenu* menu = controller.openMenu();
    ASSERT_NE(menu, nullptr);
    EXPECT_TRUE(menu->isVisible());
    QPointer<QMenu> watched(menu);
    menu->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(watched.isNull()) << "the controller deletes the menu once it closes";
  }

  StatusItemController controller;
  int ejectAllCalls = 0;
  int menusBuilt = 0;

 private:
  QPalette savedPalette_;
  std::optional<SettingsValue> savedColor_;
};

} // namespace

TEST_F(StatusItemControllerTest, StartsDisabledWithoutIcon) {
  EXPECT_FALSE(controller.isEnabled());
  EXPECT_FALSE(controller.hasVolumes());
  controller.setVolumeCount(2); // nothing to draw on yet
  EXPECT_TRUE(controller.iconImage().isNull());
  EXPECT_TRUE(controller.hasVolumes());
}

TEST_F(StatusItemControllerTest, EnablingTwiceKeepsOneIcon) {
  enableWithMenu();
  QSystemTrayIcon* first = controller.statusItem();
  enableWithMenu();
  EXPECT_TRUE(controller.isEnabled());
  EXPECT_EQ(controller.statusItem(), first);
  EXPECT_EQ(controller.findChildren<QSystemTrayIcon*>().size(), 1);
}

TEST_F(StatusItemControllerTest, NoVolumesGivesTheMonochromeIconAndNoVolumesTip) {
  enableWithMenu();
  controller.volumeSummary = "2 volumes";
  controller.setVolumeCount(0);
  EXPECT_TRUE(controller.isTemplateIcon());
  EXPECT_EQ(controller.toolTip().toStdString(), L("eject.no_volumes"));
  EXPECT_EQ(solidColor(controller.iconImage()), qRgb(0, 0, 0)) << "black on a light panel";
}

TEST_F(StatusItemControllerTest, NegativeCountMeansNoVolumes) {
  enableWithMenu();
  controller.setVolumeCount(-1);
  EXPECT_FALSE(controller.hasVolumes());
  EXPECT_TRUE(controller.isTemplateIcon());
}

TEST_F(StatusItemControllerTest, MonochromeIconTurnsWhiteOnADarkPanel) {
  enableWithMenu();
  controller.setVolumeCount(0);
  QApplication::setPalette(paletteWithWindow(QColor(35, 35, 40)));
  EXPECT_EQ(solidColor(controller.iconImage()), qRgb(255, 255, 255));
}

TEST_F(StatusItemControllerTest, VolumesWithoutStoredColourUseTheDefaultMauve) {
  enableWithMenu();
  controller.volumeSummary = "Stick (16 GB)";
  controller.setVolumeCount(1);
  EXPECT_FALSE(controller.isTemplateIcon());
  EXPECT_EQ(solidColor(controller.iconImage()), qRgb(0x7C, 0x3A, 0xED));
  EXPECT_EQ(controller.toolTip(), "Stick (16 GB)");
}

TEST_F(StatusItemControllerTest, StoredColourTintsTheIcon) {
  EjectSettings::setStatusColorHex("#22C55E");
  enableWithMenu();
  controller.setVolumeCount(2);
  EXPECT_EQ(solidColor(controller.iconImage()), qRgb(0x22, 0xC5, 0x5E));
}

TEST_F(StatusItemControllerTest, UnreadableColourLeavesTheMonochromeIcon) {
  EjectSettings::setStatusColorHex("purple-ish");
  enableWithMenu();
  controller.volumeSummary = "Stick";
  controller.setVolumeCount(1);
  EXPECT_TRUE(controller.isTemplateIcon());
  EXPECT_EQ(solidColor(controller.iconImage()), qRgb(0, 0, 0));
  EXPECT_EQ(controller.toolTip(), "Stick");
}

TEST_F(StatusItemControllerTest, VolumesWithEmptySummaryShowTheNoVolumesTip) {
  enableWithMenu();
  controller.setVolumeCount(3);
  EXPECT_FALSE(controller.isTemplateIcon());
  EXPECT_EQ(controller.toolTip().toStdString(), L("eject.no_volumes"));
}

TEST_F(StatusItemControllerTest, SummaryIsPickedUpOnlyAtTheNextRefresh) {
  enableWithMenu();
  controller.setVolumeCount(1);
  controller.volumeSummary = "Later";
  EXPECT_EQ(controller.toolTip().toStdString(), L("eject.no_volumes"));
  controller.setVolumeCount(1);
  EXPECT_EQ(controller.toolTip(), "Later");
}

TEST_F(StatusItemControllerTest, DisableThenEnableShowsTheSameState) {
  enableWithMenu();
  controller.volumeSummary = "Stick";
  controller.setVolumeCount(1);
  controller.disable();
  EXPECT_FALSE(controller.isEnabled());
  EXPECT_EQ(controller.statusItem(), nullptr);
  enableWithMenu();
  EXPECT_TRUE(controller.isEnabled());
  EXPECT_EQ(controller.toolTip(), "Stick");
  EXPECT_FALSE(controller.isTemplateIcon());
  controller.clicked(QSystemTrayIcon::Trigger, Qt::NoModifier);
  EXPECT_EQ(ejectAllCalls, 1) << "callbacks survive";
}

TEST_F(StatusItemControllerTest, LeftClickEjectsAllWithoutBuildingTheMenu) {
  enableWithMenu();
  controller.clicked(QSystemTrayIcon::Trigger, Qt::NoModifier);
  EXPECT_EQ(ejectAllCalls, 1);
  EXPECT_EQ(menusBuilt, 0);
  EXPECT_EQ(controller.openMenu(), nullptr);
}

TEST_F(StatusItemControllerTest, RightClickBuildsAFreshMenuEachTime) {
  enableWithMenu();
  controller.clicked(QSystemTrayIcon::Context, Qt::NoModifier);
  EXPECT_EQ(menusBuilt, 1);
  EXPECT_FALSE(controller.isMenuAttached());
  closeMenu();
  controller.clicked(QSystemTrayIcon::Context, Qt::NoModifier);
  EXPECT_EQ(menusBuilt, 2);
  closeMenu();
  EXPECT_FALSE(controller.isMenuAttached());
  EXPECT_EQ(ejectAllCalls, 0);
}

TEST_F(StatusItemControllerTest, ControlLeftClickOpensTheMenuInstead) {
  enableWithMenu();
  controller.clicked(QSystemTrayIcon::Trigger, Qt::ControlModifier);
  EXPECT_EQ(menusBuilt, 1);
  EXPECT_EQ(ejectAllCalls, 0);
  EXPECT_FALSE(controller.isMenuAttached());
  closeMenu();
}

TEST_F(StatusItemControllerTest, MenuNeedsAnIconAndAProvider) {
  controller.clicked(QSystemTrayIcon::Context, Qt::NoModifier);
  EXPECT_EQ(controller.openMenu(), nullptr) << "disabled";
  controller.enable(nullptr);
  controller.clicked(QSystemTrayIcon::Context, Qt::NoModifier);
  EXPECT_EQ(controller.openMenu(), nullptr) << "no provider";
}

TEST_F(StatusItemControllerTest, LeftClickWithoutCallbackDoesNothing) {
  controller.onEjectAll = nullptr;
  enableWithMenu();
  controller.clicked(QSystemTrayIcon::Trigger, Qt::NoModifier);
  EXPECT_EQ(menusBuilt, 0);
}

TEST_F(StatusItemControllerTest, DoubleAndMiddleClicksDoNothing) {
  enableWithMenu();
  controller.clicked(QSystemTrayIcon::DoubleClick, Qt::NoModifier);
  controller.clicked(QSystemTrayIcon::MiddleClick, Qt::NoModifier);
  EXPECT_EQ(ejectAllCalls, 0);
  EXPECT_EQ(menusBuilt, 0);
}
