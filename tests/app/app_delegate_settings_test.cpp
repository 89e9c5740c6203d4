#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QUrl>

#include "build_config.h"
#include "core/eject_settings.h"
#include "core/localization.h"
#include "platform/linux/xdg_autostart_login_item.h"
#include "tests/app/app_rig.h"
#include "tests/core/test_files.h"
#include "tests/support/temporary_folder.h"
#include "views/volume_list_view.h"

using testing::StartsWith;

namespace {

class SettingsView : public testing::Test {
 protected:
  // Launches with the settings view open, the login item replaced by `item` when given.
  AppDelegate& launch(LoginItem* item = nullptr) {
    rig.make();
    if (item != nullptr)
      rig.delegate->loginItemService = item;
    rig.delegate->systemLog = [this](const std::string& line) { logLines.push_back(line); };
    rig.delegate->urlOpener = [this](const QUrl& url) { openedUrls.push_back(url); };
    rig.delegate->applicationDidFinishLaunching();
    rig.delegate->showSettings();
    AppRig::flushEvents();
    return *rig.delegate;
  }

  template <typename Widget = QWidget> Widget* child(const char* name) const {
    return childNamed<Widget>(rig.delegate->settingsView, name);
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

  // A switch's click, with the setting read before and after.
  template <typename Read> void expectClickFlips(QAbstractButton* box, Read read) {
    const bool before = read();
    box->click();
    EXPECT_EQ(read(), !before);
    box->click();
    EXPECT_EQ(read(), before);
  }

  AppRig rig;
  std::vector<std::string> logLines;
  std::vector<QUrl> openedUrls;
};

const std::string loginLogPrefix = "VarneloEject: ouverture à la connexion: ";

} // namespace

// --- layout ---

TEST_F(SettingsView, ControlsSitAtTheirPlacesOnTheirCardsWithTheBuildsVersionAndSite) {
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
  for (const auto& [name, y] : {std::pair{"versionLine", 520}, std::pair{"makerLine", 535},
                                std::pair{"websiteLink", 563}}) {
    SCOPED_TRACE(name);
    QWidget* widget = child(name);
    ASSERT_NE(widget, nullptr);
    EXPECT_NEAR(widget->x() + widget->width() / 2.0, 215, 1);
    EXPECT_EQ(widget->y(), y);
  }
  EXPECT_EQ(child<QLabel>("versionLine")->text().toStdString(),
            L("about.version_label", std::string(build_config::version)));
  EXPECT_EQ(child<QLabel>("makerLine")->text().toStdString(), L("about.developed_by"));
  EXPECT_EQ(child<QAbstractButton>("websiteLink")->text(),
            QString::fromUtf8(build_config::websiteName));
  // The link opens the maker's site; an invalid address opens nothing.
  QTest::mouseClick(child("websiteLink"), Qt::LeftButton);
  ASSERT_EQ(openedUrls.size(), 1u);
  EXPECT_EQ(openedUrls[0], QUrl(QString::fromUtf8(build_config::websiteUrl)));

  for (const char* address : {"not a web address", "", "https://exa mple.com"}) {
    EXPECT_FALSE(rig.delegate->openWebsite(address)) << address;
  }
  EXPECT_EQ(openedUrls.size(), 1u);
  EXPECT_TRUE(rig.delegate->openWebsite("https://example.com/"));
  EXPECT_EQ(openedUrls.size(), 2u);

  // Children are stacked in creation order: the first card is below the disk-images switch.
  const QList<QWidget*> order = settings->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
  QWidget* card = nullptr;
  bool secondCard = false;
  for (QWidget* widget : order) {
    if (widget->geometry() == QRect(24, 100, 382, 110))
      card = widget;
    secondCard = secondCard || widget->geometry() == QRect(24, 226, 382, 96);
  }
  ASSERT_NE(card, nullptr);
  EXPECT_LT(order.indexOf(card), order.indexOf(rig.delegate->dmgCheckbox.data()));
  EXPECT_TRUE(secondCard);
  // Clicks on a card reach nothing but the controls on it.
  EXPECT_EQ(settings->childAt(rig.delegate->dmgCheckbox->geometry().center()),
            rig.delegate->dmgCheckbox.data());
}

// --- initial states ---

TEST_F(SettingsView, ControlsStartFromTheStoredSettingsAndTheLoginItem) {
  struct Row {
    bool stored;
    LoginItemStatus login;
    std::optional<std::string> colour;
    int selected;
  };
  // Automatic updates show on only when both of the updater's switches are; an unknown colour
  // shows the default but is kept.
  for (const Row& row :
       {Row{false, LoginItemStatus::enabled, std::nullopt, 1},
        Row{true, LoginItemStatus::disabled, EjectSettings::statusColors()[3].hex, 3},
        Row{true, LoginItemStatus::notRegistered, "#123456", 1}}) {
    SCOPED_TRACE(row.colour.value_or("no colour"));
    AppRig rowRig;
    SettingsStore::shared().set(EjectSettings::ejectDiskImagesKey, row.stored);
    SettingsStore::shared().set(EjectSettings::protectTimeMachineKey, !row.stored);
    SettingsStore::shared().set(AppDelegate::menuBarModeKey, row.stored);
    SettingsStore::shared().set(Updater::automaticChecksKey, true);
    SettingsStore::shared().set(Updater::automaticDownloadsKey, row.stored);
    if (row.colour)
      SettingsStore::shared().set(EjectSettings::statusColorKey, *row.colour);
    rowRig.loginItem.setStatus(row.login);
    AppDelegate& delegate = rowRig.launch();
    delegate.showSettings();
    EXPECT_EQ(delegate.dmgCheckbox->isChecked(), row.stored);
    EXPECT_EQ(delegate.tmCheckbox->isChecked(), !row.stored);
    EXPECT_EQ(delegate.menuBarCheckbox->isChecked(), row.stored);
    EXPECT_EQ(delegate.loginCheckbox->isChecked(), row.login == LoginItemStatus::enabled);
    EXPECT_EQ(childNamed<QCheckBox>(delegate.settingsView, "autoUpdateCheckbox")->isChecked(),
              row.stored);
    EXPECT_EQ(
        childNamed<QComboBox>(delegate.settingsView, "statusColorPopup")->currentData().toInt(),
        row.selected);
    EXPECT_EQ(EjectSettings::statusColorHex(),
              row.colour.value_or(EjectSettings::defaultStatusColor));
  }
}

// --- colour pop-up ---

TEST_F(SettingsView, ColourPopupListsTheTableAndAChoiceIsStoredAndRedrawsTheTrayIcon) {
  SettingsStore::shared().set(AppDelegate::menuBarModeKey, true);
  rig.mount(true, false, false, false);
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

  // Tags outside the table are ignored.
  choose(2);
  for (const int tag : {99, -1}) {
    popup()->addItem(QStringLiteral("stray"), tag);
    choose(popup()->count() - 1);
    EXPECT_EQ(EjectSettings::statusColorHex(), EjectSettings::statusColors()[2].hex);
  }
}

// --- switches ---

TEST_F(SettingsView, DiskImagesSwitchChangesNothingOnScreenButTheTimeMachineOneRefreshes) {
  rig.mount(true, false, true, false);
  launch();
  const QString summary = rig.delegate->statusLabel->text();
  ASSERT_EQ(rig.delegate->volumeList->rows().size(), 2);
  // A volume that the engine has found but not announced yet: a refresh would show it.
  rig.mount(true, true, true, false);
  rig.engine->refresh();
  expectClickFlips(rig.delegate->dmgCheckbox, [] { return EjectSettings::ejectDiskImages(); });
  EXPECT_EQ(rig.delegate->statusLabel->text(), summary);
  EXPECT_EQ(rig.delegate->volumeList->rows().size(), 2);

  const bool before = EjectSettings::protectTimeMachine();
  rig.delegate->tmCheckbox->click();
  EXPECT_EQ(EjectSettings::protectTimeMachine(), !before);
  EXPECT_EQ(rig.delegate->volumeList->rows().size(), 3);
  EXPECT_EQ(rig.delegate->statusLabel->text().toStdString(),
            EjectEngine::resume(rig.engine->volumes()));
}

TEST_F(SettingsView, AutoUpdatesAndMenuBarSwitchesTurnTheirSettings) {
  SettingsStore::shared().set(Updater::automaticChecksKey, true);
  SettingsStore::shared().set(Updater::automaticDownloadsKey, false);
  launch();
  // One switch for both of the updater's.
  auto* box = child<QCheckBox>("autoUpdateCheckbox");
  box->click();
  EXPECT_TRUE(rig.updater->automaticallyChecksForUpdates());
  EXPECT_TRUE(rig.updater->automaticallyDownloadsUpdates());
  box->click();
  EXPECT_FALSE(rig.updater->automaticallyChecksForUpdates());
  EXPECT_FALSE(rig.updater->automaticallyDownloadsUpdates());

  expectClickFlips(rig.delegate->menuBarCheckbox, [this] {
    AppRig::flushEvents();
    EXPECT_EQ(rig.delegate->statusController.isEnabled(),
              SettingsStore::shared().boolean(AppDelegate::menuBarModeKey));
    return SettingsStore::shared().boolean(AppDelegate::menuBarModeKey);
  });
}

// --- login item ---

TEST_F(SettingsView, LoginSwitchWritesAndRemovesARealAutostartEntryAndFollowsTheDesktop) {
  TemporaryFolder home;
  XdgAutostartLoginItem autostart(
      home / "config" / "autostart",
      {L("app.name"), XdgAutostartLoginItem::runningExecutable(), "varnelo-eject"});
  launch(&autostart);
  const auto reopen = [this] {
    rig.delegate->showMain();
    rig.delegate->showSettings();
  };
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

  // Each opening reads the entry again, as the desktop's own settings may have changed it.
  ASSERT_TRUE(autostart.registerItem().success);
  reopen();
  EXPECT_TRUE(rig.delegate->loginCheckbox->isChecked());
  std::ofstream(autostart.entryPath(), std::ios::app) << "Hidden=true\n";
  reopen();
  EXPECT_FALSE(rig.delegate->loginCheckbox->isChecked());
}

TEST_F(SettingsView, LoginSwitchThatTheDesktopRefusesSnapsBackAndLogs) {
  TemporaryFolder home;
  // A file where the autostart folder should be: refused even for root.
  std::ofstream(home / "autostart") << "in the way";
  XdgAutostartLoginItem autostart(home / "autostart", {"VarneloEject", "/usr/bin/x", ""});
  launch(&autostart);
  rig.delegate->loginCheckbox->click();
  EXPECT_FALSE(rig.delegate->loginCheckbox->isChecked());
  ASSERT_EQ(logLines.size(), 1u);
  EXPECT_THAT(logLines[0], StartsWith(loginLogPrefix));
  EXPECT_GT(logLines[0].size(), loginLogPrefix.size());

  // A refused unregistration leaves it on.
  rig.loginItem.setStatus(LoginItemStatus::enabled);
  rig.loginItem.refuseWith("not allowed");
  rig.delegate->loginItemService = &rig.loginItem;
  rig.delegate->showMain();
  rig.delegate->showSettings();
  ASSERT_TRUE(rig.delegate->loginCheckbox->isChecked());
  rig.delegate->loginCheckbox->click();
  EXPECT_TRUE(rig.delegate->loginCheckbox->isChecked());
  EXPECT_EQ(rig.loginItem.unregisterCount(), 1);
  ASSERT_EQ(logLines.size(), 2u);
  EXPECT_EQ(logLines[1], loginLogPrefix + "not allowed");
}
