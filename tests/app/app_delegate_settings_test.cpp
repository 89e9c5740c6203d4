#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <QAbstractButton>
#include <QCheckBox>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>

#include "build_config.h"
#include "core/eject_settings.h"
#include "core/localization.h"
#include "platform/fake/fake_login_item.h"
#include "platform/linux/xdg_autostart_login_item.h"
#include "tests/app/app_rig.h"
#include "tests/support/temporary_folder.h"
#include "views/palette.h"
#include "views/volume_list_view.h"

using testing::StartsWith;

namespace {

class SettingsView : public testing::Test {
 protected:
  AppDelegate& launch(LoginItem* item = nullptr) {
    rig.make();
    rig.delegate->loginItemService = item != nullptr ? item : &fakeLogin;
    rig.delegate->systemLog = [this](const std::string& line) { logLines.push_back(line); };
    rig.delegate->urlOpener = [this](const QUrl& url) { openedUrls.push_back(url); };
    rig.delegate->applicationDidFinishLaunching();
    rig.delegate->showSettings();
    AppRig::flushEvents();
    return *rig.delegate;
  }

  template <typename Widget = QWidget> Widget* child(const char* name) const {
    return rig.delegate->settingsView->findChild<Widget*>(QString::fromLatin1(name));
  }

  QComboBox* popup() const { return child<QComboBox>("statusColorPopup"); }

  // What a user's choice in the pop-up does: select, then report the activation.
  void choose(int index) {
    popup()->setCurrentIndex(index);
    emit popup()->activated(index);
  }

  const QLabel* labelWithText(const std::string& text) const {
    for (const QLabel* label : rig.delegate->settingsView->findChildren<QLabel*>()) {
      if (label->text().toStdString() == text)
        return label;
    }
    return nullptr;
  }

  AppRig rig;
  FakeLoginItem fakeLogin;
  std::vector<std::string> logLines;
  std::vector<QUrl> openedUrls;
};

std::string readFile(const std::filesystem::path& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

} // namespace

// --- layout ---

TEST_F(SettingsView, ControlsSitAtTheirPlaces) {
  launch();
  QWidget* settings = rig.delegate->settingsView;
  EXPECT_EQ(settings->size(), QSize(430, 589));
  EXPECT_EQ(child("backButton")->geometry(), QRect(18, 46, 28, 28));
  EXPECT_EQ(child("backButton")->toolTip().toStdString(), L("accessibility.back"));
  const QLabel* title = labelWithText(L("settings.title"));
  ASSERT_NE(title, nullptr);
  EXPECT_EQ(title->x(), 54);
  EXPECT_NEAR(title->y() + title->height() / 2.0, 60, 1);

  EXPECT_EQ(rig.delegate->dmgCheckbox->pos(), QPoint(40, 112));
  EXPECT_EQ(rig.delegate->tmCheckbox->pos(), QPoint(40, 140));
  EXPECT_EQ(child("autoUpdateCheckbox")->pos(), QPoint(40, 238));
  EXPECT_EQ(rig.delegate->menuBarCheckbox->pos(), QPoint(40, 266));
  EXPECT_EQ(rig.delegate->loginCheckbox->pos(), QPoint(40, 294));
  EXPECT_EQ(rig.delegate->dmgCheckbox->text().toStdString(), L("settings.eject_disk_images"));
  EXPECT_EQ(rig.delegate->loginCheckbox->text().toStdString(), L("settings.launch_at_login"));

  const QLabel* colourLabel = labelWithText(L("settings.color_when_mounted"));
  ASSERT_NE(colourLabel, nullptr);
  EXPECT_EQ(colourLabel->x(), 40);
  EXPECT_NEAR(colourLabel->y() + colourLabel->height() / 2.0, 181, 1);
  EXPECT_EQ(popup()->geometry(), QRect(280, 168, 110, 26));
  EXPECT_LE(colourLabel->geometry().right(), popup()->x() - 1);

  auto* updates = child<QPushButton>("checkUpdatesButton");
  auto* problem = child<QPushButton>("reportProblemButton");
  EXPECT_EQ(updates->pos(), QPoint(24, 342));
  EXPECT_EQ(problem->pos(), QPoint(updates->x() + updates->width() + 10, 342));
  EXPECT_EQ(updates->text().toStdString(), L("menu.check_updates"));
  EXPECT_EQ(problem->text().toStdString(), L("menu.report_problem"));

  EXPECT_EQ(child("brandMark")->geometry(), QRect(191, 462, 48, 48));
  EXPECT_FALSE(child<QLabel>("brandMark")->pixmap().isNull());
  for (const char* name : {"versionLine", "makerLine", "websiteLink"}) {
    QWidget* widget = child(name);
    ASSERT_NE(widget, nullptr) << name;
    EXPECT_NEAR(widget->x() + widget->width() / 2.0, 215, 1) << name;
  }
  EXPECT_EQ(child("versionLine")->y(), 520);
  EXPECT_EQ(child("makerLine")->y(), 535);
  EXPECT_EQ(child("websiteLink")->y(), 563);
}

TEST_F(SettingsView, CardsLieBehindTheirControls) {
  launch();
  // Children are stacked in creation order: the first card is below the disk-images switch.
  QWidget* settings = rig.delegate->settingsView;
  const QList<QWidget*> order = settings->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
  QWidget* card = nullptr;
  for (QWidget* widget : order) {
    if (widget->geometry() == QRect(24, 100, 382, 110))
      card = widget;
  }
  ASSERT_NE(card, nullptr);
  EXPECT_LT(order.indexOf(card), order.indexOf(rig.delegate->dmgCheckbox.data()));
  bool secondCard = false;
  for (QWidget* widget : order)
    secondCard = secondCard || widget->geometry() == QRect(24, 226, 382, 96);
  EXPECT_TRUE(secondCard);
  // Clicks on a card reach nothing but the controls on it.
  EXPECT_EQ(settings->childAt(rig.delegate->dmgCheckbox->geometry().center()),
            rig.delegate->dmgCheckbox.data());
}

TEST_F(SettingsView, VersionLineAndLinkComeFromTheBuild) {
  launch();
  EXPECT_EQ(child<QLabel>("versionLine")->text().toStdString(),
            L("about.version_label", std::string(build_config::version)));
  EXPECT_EQ(child<QLabel>("makerLine")->text().toStdString(), L("about.developed_by"));
  EXPECT_EQ(child<QAbstractButton>("websiteLink")->text(),
            QString::fromUtf8(build_config::websiteName));
}

// --- initial states ---

TEST_F(SettingsView, SwitchesStartFromTheStoredSettings) {
  SettingsStore::shared().set(EjectSettings::ejectDiskImagesKey, false);
  SettingsStore::shared().set(EjectSettings::protectTimeMachineKey, true);
  fakeLogin.setStatus(LoginItemStatus::enabled);
  launch();
  EXPECT_FALSE(rig.delegate->dmgCheckbox->isChecked());
  EXPECT_TRUE(rig.delegate->tmCheckbox->isChecked());
  EXPECT_FALSE(rig.delegate->menuBarCheckbox->isChecked());
  EXPECT_TRUE(rig.delegate->loginCheckbox->isChecked());
}

TEST_F(SettingsView, AutoUpdatesStartsOnOnlyWhenBothUpdaterSwitchesAre) {
  SettingsStore::shared().set(Updater::automaticChecksKey, true);
  SettingsStore::shared().set(Updater::automaticDownloadsKey, false);
  launch();
  EXPECT_FALSE(child<QCheckBox>("autoUpdateCheckbox")->isChecked());

  AppRig both;
  SettingsStore::shared().set(Updater::automaticChecksKey, true);
  SettingsStore::shared().set(Updater::automaticDownloadsKey, true);
  both.make();
  both.delegate->loginItemService = &fakeLogin;
  both.delegate->buildMainWindow();
  auto* box =
      both.delegate->settingsView->findChild<QCheckBox*>(QStringLiteral("autoUpdateCheckbox"));
  EXPECT_TRUE(box->isChecked());
}

TEST_F(SettingsView, LoginItemThatIsOnlyDisabledShowsOff) {
  fakeLogin.setStatus(LoginItemStatus::disabled);
  launch();
  EXPECT_FALSE(rig.delegate->loginCheckbox->isChecked());
}

// --- colour pop-up ---

TEST_F(SettingsView, ColourPopupListsTheTableWithSwatchesAndTags) {
  launch();
  const std::vector<StatusColorEntry>& colours = EjectSettings::statusColors();
  ASSERT_EQ(popup()->count(), static_cast<int>(colours.size()));
  for (int index = 0; index < popup()->count(); ++index) {
    EXPECT_EQ(popup()->itemText(index).toStdString(), colours[index].titre);
    EXPECT_EQ(popup()->itemData(index).toInt(), index);
    // The system entry has no colour and no swatch.
    EXPECT_EQ(popup()->itemIcon(index).isNull(), !EjectSettings::color(colours[index].hex));
  }
  EXPECT_EQ(popup()->iconSize(), QSize(11, 11));
}

TEST_F(SettingsView, ColourPopupSelectsTheDefaultWhenNothingIsStored) {
  launch();
  EXPECT_EQ(popup()->currentData().toInt(), 1);
}

TEST_F(SettingsView, ColourPopupSelectsAStoredTableColour) {
  SettingsStore::shared().set(EjectSettings::statusColorKey, EjectSettings::statusColors()[3].hex);
  launch();
  EXPECT_EQ(popup()->currentData().toInt(), 3);
}

TEST_F(SettingsView, ColourPopupShowsTheDefaultForAnUnknownColourAndKeepsIt) {
  SettingsStore::shared().set(EjectSettings::statusColorKey, "#123456");
  launch();
  EXPECT_EQ(popup()->currentData().toInt(), 1);
  EXPECT_EQ(EjectSettings::statusColorHex(), "#123456");
}

TEST_F(SettingsView, ChoosingAColourStoresItAndRedrawsTheTrayIconAtOnce) {
  SettingsStore::shared().set(AppDelegate::menuBarModeKey, true);
  rig.mount(true, false, false, false);
  launch();
  StatusItemController& tray = rig.delegate->statusController;
  const QImage mauve = tray.iconImage();
  choose(5);
  EXPECT_EQ(EjectSettings::statusColorHex(), EjectSettings::statusColors()[5].hex);
  EXPECT_NE(tray.iconImage(), mauve);
  EXPECT_FALSE(tray.isTemplateIcon());

  // The system entry stores an empty colour: the icon goes monochrome.
  choose(0);
  EXPECT_EQ(EjectSettings::statusColorHex(), "");
  EXPECT_TRUE(tray.isTemplateIcon());
}

TEST_F(SettingsView, ColourTagOutsideTheTableIsIgnored) {
  SettingsStore::shared().set(EjectSettings::statusColorKey, "#3B82F6");
  launch();
  popup()->addItem(QStringLiteral("stray"), 99);
  choose(popup()->count() - 1);
  EXPECT_EQ(EjectSettings::statusColorHex(), "#3B82F6");
  popup()->addItem(QStringLiteral("negative"), -1);
  choose(popup()->count() - 1);
  EXPECT_EQ(EjectSettings::statusColorHex(), "#3B82F6");
}

// --- switches ---

TEST_F(SettingsView, DiskImagesSwitchStoresTheSettingAndChangesNothingOnScreen) {
  rig.mount(true, false, true, false);
  launch();
  const QString summary = rig.delegate->statusLabel->text();
  const bool before = EjectSettings::ejectDiskImages();
  // A volume that the engine has found but not announced yet: a refresh would show it.
  rig.mount(true, true, true, false);
  rig.engine->refresh();
  rig.delegate->dmgCheckbox->click();
  EXPECT_EQ(EjectSettings::ejectDiskImages(), !before);
  EXPECT_EQ(rig.delegate->statusLabel->text(), summary);
  rig.delegate->dmgCheckbox->click();
  EXPECT_EQ(EjectSettings::ejectDiskImages(), before);
}

TEST_F(SettingsView, TimeMachineSwitchStoresTheSettingAndRefreshesTheMainView) {
  rig.mount(true, false, false, false);
  launch();
  rig.mount(true, true, false, false);
  rig.engine->refresh();
  ASSERT_EQ(rig.delegate->volumeList->rows().size(), 1);
  const bool before = EjectSettings::protectTimeMachine();
  rig.delegate->tmCheckbox->click();
  EXPECT_EQ(EjectSettings::protectTimeMachine(), !before);
  EXPECT_EQ(rig.delegate->volumeList->rows().size(), 2);
  EXPECT_EQ(rig.delegate->statusLabel->text().toStdString(),
            EjectEngine::resume(rig.engine->volumes()));
}

TEST_F(SettingsView, AutoUpdatesSwitchTurnsBothUpdaterSwitchesTogether) {
  SettingsStore::shared().set(Updater::automaticChecksKey, true);
  SettingsStore::shared().set(Updater::automaticDownloadsKey, false);
  launch();
  auto* box = child<QCheckBox>("autoUpdateCheckbox");
  box->click();
  EXPECT_TRUE(rig.updater->automaticallyChecksForUpdates());
  EXPECT_TRUE(rig.updater->automaticallyDownloadsUpdates());
  box->click();
  EXPECT_FALSE(rig.updater->automaticallyChecksForUpdates());
  EXPECT_FALSE(rig.updater->automaticallyDownloadsUpdates());
}

TEST_F(SettingsView, MenuBarSwitchChangesTheDisplayMode) {
  launch();
  rig.delegate->menuBarCheckbox->click();
  AppRig::flushEvents();
  EXPECT_TRUE(SettingsStore::shared().boolean(AppDelegate::menuBarModeKey));
  EXPECT_TRUE(rig.delegate->statusController.isEnabled());
  rig.delegate->menuBarCheckbox->click();
  AppRig::flushEvents();
  EXPECT_FALSE(SettingsStore::shared().boolean(AppDelegate::menuBarModeKey));
  EXPECT_FALSE(rig.delegate->statusController.isEnabled());
}

// --- login item ---

TEST_F(SettingsView, LoginSwitchWritesAndRemovesARealAutostartEntry) {
  TemporaryFolder home;
  XdgAutostartLoginItem autostart(
      home / "config" / "autostart",
      {L("app.name"), XdgAutostartLoginItem::runningExecutable(), "varnelo-eject"});
  launch(&autostart);
  ASSERT_FALSE(rig.delegate->loginCheckbox->isChecked());

  rig.delegate->loginCheckbox->click();
  EXPECT_TRUE(rig.delegate->loginCheckbox->isChecked());
  const std::string entry = readFile(autostart.entryPath());
  EXPECT_NE(entry.find("\nExec=" + XdgAutostartLoginItem::runningExecutable() + "\n"),
            std::string::npos);
  EXPECT_NE(entry.find("\nX-GNOME-Autostart-enabled=true\n"), std::string::npos);

  rig.delegate->loginCheckbox->click();
  EXPECT_FALSE(rig.delegate->loginCheckbox->isChecked());
  EXPECT_FALSE(std::filesystem::exists(autostart.entryPath()));
  EXPECT_TRUE(logLines.empty());
}

TEST_F(SettingsView, LoginSwitchFollowsTheDesktopsOwnSettingsAtEachOpening) {
  TemporaryFolder home;
  XdgAutostartLoginItem autostart(home / "autostart", {"VarneloEject", "/usr/bin/x", ""});
  launch(&autostart);
  ASSERT_TRUE(autostart.registerItem().success);
  rig.delegate->showMain();
  rig.delegate->showSettings();
  EXPECT_TRUE(rig.delegate->loginCheckbox->isChecked());

  // The desktop's autostart settings turn it off by marking the entry.
  std::ofstream(autostart.entryPath(), std::ios::app) << "Hidden=true\n";
  rig.delegate->showMain();
  rig.delegate->showSettings();
  EXPECT_FALSE(rig.delegate->loginCheckbox->isChecked());
}

TEST_F(SettingsView, LoginSwitchInAFolderThatCannotBeWrittenSnapsBackAndLogs) {
  TemporaryFolder home;
  // A file where the autostart folder should be: refused even for root.
  std::ofstream(home / "autostart") << "in the way";
  XdgAutostartLoginItem autostart(home / "autostart", {"VarneloEject", "/usr/bin/x", ""});
  launch(&autostart);
  rig.delegate->loginCheckbox->click();
  EXPECT_FALSE(rig.delegate->loginCheckbox->isChecked());
  ASSERT_EQ(logLines.size(), 1u);
  EXPECT_THAT(logLines[0], StartsWith("VarneloEject: ouverture à la connexion: "));
  EXPECT_GT(logLines[0].size(), std::string("VarneloEject: ouverture à la connexion: ").size());
}

TEST_F(SettingsView, RefusedUnregistrationLeavesTheSwitchOn) {
  fakeLogin.setStatus(LoginItemStatus::enabled);
  launch();
  ASSERT_TRUE(rig.delegate->loginCheckbox->isChecked());
  fakeLogin.refuseWith("not allowed");
  rig.delegate->loginCheckbox->click();
  EXPECT_TRUE(rig.delegate->loginCheckbox->isChecked());
  EXPECT_EQ(fakeLogin.unregisterCount(), 1);
  ASSERT_EQ(logLines.size(), 1u);
  EXPECT_EQ(logLines[0], "VarneloEject: ouverture à la connexion: not allowed");
}

// --- buttons and link ---

TEST_F(SettingsView, CheckForUpdatesButtonStartsTheInteractiveCheck) {
  launch();
  QSignalSpy finished(rig.updater.get(), &Updater::checkFinished);
  child<QPushButton>("checkUpdatesButton")->click();
  rig.settle();
  EXPECT_EQ(finished.count(), 1);
  EXPECT_FALSE(rig.alerts.shown.empty());
}

TEST_F(SettingsView, LinkOpensTheMakersSite) {
  launch();
  QTest::mouseClick(child("websiteLink"), Qt::LeftButton);
  ASSERT_EQ(openedUrls.size(), 1u);
  EXPECT_EQ(openedUrls[0], QUrl(QString::fromUtf8(build_config::websiteUrl)));
}

TEST_F(SettingsView, InvalidSiteAddressOpensNothing) {
  launch();
  EXPECT_FALSE(rig.delegate->openWebsite("not a web address"));
  EXPECT_FALSE(rig.delegate->openWebsite(""));
  EXPECT_FALSE(rig.delegate->openWebsite("https://exa mple.com"));
  EXPECT_TRUE(openedUrls.empty());
  EXPECT_TRUE(rig.delegate->openWebsite("https://example.com/"));
  EXPECT_EQ(openedUrls.size(), 1u);
}

// --- theme ---

TEST_F(SettingsView, TextFollowsASwitchBetweenLightAndDark) {
  const QPalette original = QApplication::palette();
  launch();
  QPalette dark;
  dark.setColor(QPalette::Window, QColor(40, 40, 44));
  dark.setColor(QPalette::WindowText, QColor(235, 235, 240));
  dark.setColor(QPalette::Base, QColor(30, 30, 33));
  dark.setColor(QPalette::Text, QColor(235, 235, 240));
  QApplication::setPalette(dark);
  AppRig::flushEvents();
  const auto colourOf = [this](const char* name) {
    return child<QLabel>(name)->palette().color(QPalette::WindowText);
  };
  EXPECT_GT(colourOf("settingsTitle").lightness(), 128);
  EXPECT_EQ(colourOf("versionLine"), labelColor());
  EXPECT_EQ(colourOf("makerLine"), secondaryLabelColor());

  QApplication::setPalette(original);
  AppRig::flushEvents();
  EXPECT_LT(colourOf("settingsTitle").lightness(), 128);
  EXPECT_EQ(colourOf("makerLine"), secondaryLabelColor());
}
