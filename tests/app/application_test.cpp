#include "app/application.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include "app/desktop_application.h"
#include "app/updater.h"
#include "build_config.h"
#include "app/display_mode_controller.h"
#include "app/eject_controller.h"
#include "app/main_window.h"
#include "app/messages_controller.h"
#include "app/support/problem_report_form.h"
#include "app/tray_icon.h"
#include "core/localization.h"
#include "tests/app/app_rig.h"
#include "tests/support/environment_variable.h"
#include "views/round_eject_button.h"
#include "views/volume_row_view.h"

namespace {

template <typename T> T* child(const QWidget& parent, const char* name) {
  return parent.findChild<T*>(QString::fromLatin1(name));
}

} // namespace

TEST(Application, EveryEntryPointWaitsForTheRunningBatchAndSaysItIsEjecting) {
  AppRig rig;
  rig.mount(true, true, false);
  Application& application = rig.launch();
  MainWindow& window = *application.mainWindow();
  QApplication::setActiveWindow(&window);
  auto* button = child<RoundEjectButton>(window, "ejectAllButton");
  button->setFocus();
  QTest::keyClick(button, Qt::Key_Space);
  ASSERT_TRUE(application.ejectController().isBusy());

  // Until the batch ends: a tray click, the menu's items, the button and rows all do nothing.
  application.trayIcon().activate(QSystemTrayIcon::Trigger);
  QMenu& menu = rig.openTrayMenu();
  for (QAction* action : menu.actions()) {
    if (action->text().toStdString() == L("eject.all_menu_item") ||
        action->text().toStdString() == L("eject.volume_action", "USB")) {
      EXPECT_FALSE(action->isEnabled()) << action->text().toStdString();
    }
  }
  EXPECT_FALSE(button->isEnabled());
  QToolButton* row = window.findChild<VolumeRowView*>()->findChild<QToolButton*>();
  EXPECT_FALSE(row->isEnabled());
  EXPECT_EQ(child<QLabel>(window, "summaryLabel")->text().toStdString(), L("eject.ejecting"));
  EXPECT_EQ(application.trayIcon().systemTrayIcon().toolTip().toStdString(), L("eject.ejecting"));
  rig.settle();
  // Focus goes back to the button, never to an unnamed stop.
  EXPECT_EQ(QApplication::focusWidget(), button);
  EXPECT_EQ(rig.ejected(), (std::vector<std::string>{"/media/user/Photos", "/media/user/USB"}));
  EXPECT_TRUE(rig.alerts.shown.empty()) << rig.alerts.shown.front().title;
  EXPECT_TRUE(button->isEnabled());
  EXPECT_TRUE(button->isShowingCheck());
  EXPECT_NE(application.trayIcon().systemTrayIcon().toolTip().toStdString(), L("eject.ejecting"));

  // A batch the engine runs without us is never answered to a second caller: refuse, not wait.
  rig.engine->ejectAll([](auto) {});
  application.ejectController().ejectAll();
  EXPECT_FALSE(application.ejectController().isBusy());
  rig.settle();
  application.ejectController().ejectAll();
  EXPECT_TRUE(application.ejectController().isBusy());
}

// Each result gets its own alert and only clean ejections notify; a backup is asked about
// wherever it is ejected alone, refused while a backup program holds it, and kept out of
// eject-all, which then says there is nothing to eject.
TEST(Application, EveryWayToEjectAnswersWithTheResultOrTheQuestionItCalledFor) {
  enum class Usb { ejected, unmountedOnly, held };
  struct Case {
    std::string from; // "eject all", "tray menu" or "row", for the USB disk or the backups
    std::string volume;
    std::string alert = {}; // the one alert shown, whose text holds `detail`
    std::vector<std::string> notified = {};
    Usb usb = Usb::ejected;
    int answer = 0;
    bool notify = true;
    std::string detail = {};
    bool backupHeld = false;
  };
  const std::string confirm = L("eject.time_machine_confirm_title", "Backups");
  const std::string running = L("eject.backup_running_title");
  for (const Case& test : {
           Case{"eject all", "USB", "", {"Photos", "USB"}},
           Case{"tray menu", "USB", "", {"USB"}},
           Case{"eject all", "USB", "", {}, Usb::ejected, 0, false},
           Case{"tray menu",
                "USB",
                L("eject.partial_title", "USB"),
                {},
                Usb::unmountedOnly,
                0,
                true,
                "Device busy"},
           Case{"eject all",
                "USB",
                L("eject.failure_title", "USB"),
                {"Photos"},
                Usb::held,
                0,
                true,
                "vlc"},
           Case{"tray menu", "Backups", confirm, {}, Usb::ejected, 1},
           Case{"tray menu", "Backups", confirm, {"Backups"}},
           Case{"row", "Backups", confirm, {}, Usb::ejected, 1},
           Case{"row", "Backups", confirm, {"Backups"}},
           Case{"row", "Backups", running, {}, Usb::ejected, 0, true, "", true},
           Case{"tray menu", "Backups", running, {}, Usb::ejected, 0, true, "", true},
           Case{"eject all", "Backups", L("eject.nothing_to_eject_title")},
       }) {
    SCOPED_TRACE(test.from + " " + test.volume + " " + std::to_string(test.answer));
    AppRig rig;
    rig.settings.setNotifyWhenSafe(test.notify);
    if (test.volume == "USB") {
      EjectOutcome outcome;
      outcome.success = test.usb != Usb::held;
      outcome.leftUndone = test.usb == Usb::unmountedOnly ? EjectOutcome::LeftUndone::powerOff
                                                          : EjectOutcome::LeftUndone::nothing;
      outcome.errorText = test.usb == Usb::unmountedOnly ? "Device busy" : "";
      outcome.failure = test.usb == Usb::held ? EjectFailure::busy : EjectFailure::none;
      outcome.holders = {{.program = "vlc", .pid = 77}};
      rig.engineRig.ejector.setOutcome("/media/user/USB", outcome);
    }
    rig.mount(test.volume == "USB", test.volume == "USB" && test.from == "eject all",
              test.volume == "Backups");
    if (test.backupHeld)
      rig.engineRig.users.setUsers(AppRig::backupMount, {{.program = "borg", .pid = 4242}});
    Application& application = rig.launch();
    rig.alerts.answers = {test.answer};
    auto* button = child<RoundEjectButton>(*application.mainWindow(), "ejectAllButton");
    if (test.from == "row") {
      QTest::keyClick(
          application.mainWindow()->findChild<VolumeRowView*>()->findChild<QToolButton*>(),
          Qt::Key_Return);
      QTest::qWait(300); // animateClick's press lasts a moment
    } else if (test.from == "tray menu") {
      itemShowing(rig.openTrayMenu(), L("eject.volume_action", test.volume))->trigger();
    } else {
      button->click();
    }
    rig.settle();
    std::vector<std::string> notified, expected;
    for (const auto& shown : rig.notifier.shown())
      notified.push_back(shown.summary);
    for (const std::string& name : test.notified)
      expected.push_back(L("eject.safe_to_remove", name));
    EXPECT_EQ(notified, expected);
    EXPECT_EQ(rig.alerts.titles(),
              test.alert.empty() ? std::vector<std::string>{} : std::vector{test.alert});
    if (!rig.alerts.shown.empty()) {
      EXPECT_NE(rig.alerts.shown.front().message.find(test.detail), std::string::npos);
      EXPECT_FALSE(button->isShowingCheck());
    }
  }
}

// Quitting keeps the mode, closing the window turns to the tray; a second launch brings the
// window back, with what was mounted meanwhile, only in window mode.
TEST(Application, WindowModeFollowsHowTheWindowWasLeftAndASecondLaunch) {
  struct Case {
    std::string how;
    bool trayMode;
    bool trayModeAfter;
    int quits;
    bool shownAfter = false;
  };
  for (const Case& test : {Case{"Ctrl+Q", false, false, 1}, Case{"tray menu quit", false, false, 1},
                           Case{"close button", false, true, 0}, Case{"Ctrl+W", false, true, 0},
                           Case{"reopen minimised", false, false, 0, true},
                           Case{"reopen hidden", false, false, 0, true},
                           Case{"reopen hidden", true, true, 0, false}}) {
    SCOPED_TRACE(test.how + (test.trayMode ? " in tray mode" : ""));
    AppRig rig;
    rig.settings.setMenuBarMode(test.trayMode);
    Application& application = rig.launch();
    ASSERT_EQ(application.mainWindow() == nullptr, test.trayMode);
    if (test.trayMode)
      emit application.trayIcon().openRequested();
    MainWindow& window = *application.mainWindow();
    const bool reopens = test.how.starts_with("reopen");
    if (test.how == "Ctrl+Q") {
      QTest::keyClick(&window, Qt::Key_Q, Qt::ControlModifier);
    } else if (test.how == "tray menu quit") {
      itemShowing(rig.openTrayMenu(), L("menu.quit"))->trigger();
    } else if (test.how == "close button") {
      window.close();
    } else if (test.how == "Ctrl+W") {
      QTest::keyClick(&window, Qt::Key_W, Qt::ControlModifier);
    } else {
      window.show();
      test.how == "reopen minimised" ? window.showMinimized() : window.hide();
      AppRig::flushEvents();
      rig.mount(true, false, false);
      rig.engineRig.monitor.fire();
      rig.settle();
      application.reopen();
    }
    AppRig::flushEvents();
    if (reopens) {
      EXPECT_EQ(window.isVisible() && !window.isMinimized(), test.shownAfter);
      EXPECT_TRUE(!test.shownAfter || window.findChildren<VolumeRowView*>().size() == 1);
    } else {
      window.close(); // however the desktop then closes the window on the way out
      AppRig::flushEvents();
    }
    EXPECT_EQ(rig.settings.menuBarMode(), test.trayModeAfter);
    EXPECT_EQ(child<QCheckBox>(window, "menuBarCheckbox")->isChecked(), test.trayModeAfter);
    EXPECT_EQ((window.windowFlags() & Qt::Tool) == Qt::Tool, test.trayModeAfter);
    EXPECT_EQ(rig.quits, test.quits);
  }
}

TEST(Application, SettingsSwitchesTakeEffectAndShowWhatTheDesktopReallyDid) {
  for (const bool refused : {false, true}) {
    SCOPED_TRACE(refused ? "login item refused" : "login item accepted");
    AppRig rig;
    if (refused)
      rig.loginItem.refuseWith("read-only folder");
    Application& application = rig.launch();
    MainWindow& window = *application.mainWindow();
    window.showSettings();
    for (const bool trayMode : {true, false}) {
      child<QCheckBox>(window, "menuBarCheckbox")->click();
      AppRig::flushEvents();
      EXPECT_EQ(application.trayIcon().systemTrayIcon().isVisible(), trayMode);
      EXPECT_EQ(rig.settings.menuBarMode(), trayMode);
    }
    child<QCheckBox>(window, "loginCheckbox")->click();
    EXPECT_EQ(child<QCheckBox>(window, "loginCheckbox")->isChecked(), !refused);
    EXPECT_EQ(rig.loginItem.status() == LoginItemStatus::enabled, !refused);
    if (build_config::networkFeatures) { // with automatic contact off the next check sends nothing
      child<QCheckBox>(window, "serverContactCheckbox")->click();
      rig.settle(); // the check at launch
      const std::size_t sent = rig.server.received().size();
      application.messages().syncWithServer();
      rig.settle();
      EXPECT_EQ(rig.server.received().size(), sent);
    }
  }
}

TEST(Application, LaunchAlertsStandOverAWindowThatAlreadyShowsTheVolumes) {
  struct Case {
    const char* alert;
    bool onboarded;
    bool trayAvailable;
  };
  for (const Case& test : {Case{"onboarding.welcome_title", false, true},
                           Case{"tray.unavailable_title", true, false}}) {
    SCOPED_TRACE(test.alert);
    AppRig rig;
    rig.mount(true, false, false);
    rig.settings.setOnboarded(test.onboarded);
    rig.settings.setMenuBarMode(!test.trayAvailable);
    rig.display.trayAvailable = test.trayAvailable;
    rig.settings.set(setting_keys::updaterAutomaticChecks, true);
    rig.make();
    QString summaryDuringAlert;
    bool updaterStartedBeforeAnswer = false;
    rig.alerts.onPresent = [&](const Alert& alert) {
      if (alert.title == L(test.alert)) {
        summaryDuringAlert = child<QLabel>(*rig.application->mainWindow(), "summaryLabel")->text();
        updaterStartedBeforeAnswer = rig.updater->scheduledCheckDelay().has_value();
      }
    };
    rig.application->launch();
    EXPECT_EQ(summaryDuringAlert.toStdString(), EjectEngine::resume(rig.engine->volumes()));
    EXPECT_FALSE(updaterStartedBeforeAnswer);
    EXPECT_EQ(rig.updater->scheduledCheckDelay().has_value(), build_config::networkFeatures);
  }
}

TEST(Application, TrayHasOnePersistentMenuShowingNamesAsTheyAreAndAClickEjectsAll) {
  AppRig rig;
  const std::string longName(255, 'x');
  rig.engineRig.source.setVolumes({
      {"/media/user/Long", FakeVolumeSource::external(longName)},
      {"/media/user/Tom", FakeVolumeSource::external("Tom & Jerry")},
      {"/media/user/Tab", FakeVolumeSource::external("Left\tRight")},
      {"/media/user/Lines", FakeVolumeSource::external("Two\nLines")},
  });
  Application& application = rig.launch();
  TrayIcon& tray = application.trayIcon();
  EXPECT_EQ(tray.systemTrayIcon().contextMenu(), tray.menu());

  const QMenu& menu = rig.openTrayMenu();
  // "&" is no mnemonic, tabs and breaks are spaces; long names are elided in the middle.
  for (const char* shown : {"Tom & Jerry", "Left Right", "Two Lines"}) {
    EXPECT_NE(itemShowing(menu, L("eject.volume_action", shown)), nullptr) << shown;
  }
  const QAction* item = itemShowing(menu, L("eject.volume_action", longName));
  ASSERT_NE(item, nullptr);
  EXPECT_LT(QFontMetrics(menu.font()).horizontalAdvance(item->text()),
            QApplication::primaryScreen()->availableGeometry().width() / 2);
  EXPECT_TRUE(item->text().contains(QChar(0x2026)));

  // The icon and its tooltip follow the list as it empties and fills again.
  const qint64 colourIcon = tray.systemTrayIcon().icon().cacheKey();
  rig.engineRig.source.setVolumes({});
  rig.engineRig.monitor.fire();
  rig.settle();
  const qint64 plainIcon = tray.systemTrayIcon().icon().cacheKey();
  EXPECT_NE(plainIcon, colourIcon);
  EXPECT_EQ(tray.systemTrayIcon().toolTip().toStdString(), L("eject.no_volumes"));

  // Built afresh on each opening, also for a change the engine was not told about.
  rig.mount(true, false, false);
  rig.engine->refresh();
  EXPECT_NE(itemShowing(rig.openTrayMenu(), L("eject.volume_action", "USB")), nullptr);
  rig.engineRig.monitor.fire();
  rig.settle();
  EXPECT_NE(tray.systemTrayIcon().icon().cacheKey(), plainIcon);
  // The desktop's own look, chosen in the settings, reaches the icon at once.
  emit child<QComboBox>(*application.mainWindow(), "statusColorPopup")->activated(0);
  EXPECT_EQ(tray.systemTrayIcon().icon().cacheKey(), plainIcon);

  tray.activate(QSystemTrayIcon::Trigger);
  rig.settle();
  EXPECT_EQ(rig.ejected(), std::vector<std::string>{"/media/user/USB"});

  // With the tray alone showing the list, a disk mounted meanwhile is looked inside once a click
  // needs its backup marks: a plain disk goes from the menu and from the icon, unasked.
  rig.engine->setDetailsShown(false);
  for (const bool fromMenu : {true, false}) {
    rig.engineRig.source.setVolumes({});
    rig.engineRig.monitor.fire();
    rig.mount(true, false, false);
    rig.engineRig.monitor.fire();
    rig.settle();
    ASSERT_TRUE(rig.engine->volumes().at(0).contentsPending);
    if (fromMenu) {
      itemShowing(rig.openTrayMenu(), L("eject.volume_action", "USB"))->trigger();
    } else {
      tray.activate(QSystemTrayIcon::Trigger);
    }
    rig.settle();
  }
  EXPECT_EQ(rig.ejected(), std::vector<std::string>(3, "/media/user/USB"));
  EXPECT_EQ(rig.alerts.titles(), std::vector<std::string>{});
}

TEST(Application, WindowFitsTheScreenAndEveryControlIsReachableWithTabAndNamed) {
  AppRig rig;
  rig.server.answer(200, MessageClientRig::offer("open", 0, ""));
  rig.mount(true, false, false);
  Application& application = rig.launch();
  rig.settle();
  MainWindow& window = *application.mainWindow();
  EXPECT_TRUE(window.screen()->availableGeometry().contains(window.frameGeometry()));

  std::vector<QWidget*> reachable;
  // Every stop, on both pages, has a name screen readers say (Qt hands it to AT-SPI).
  for (const bool settings : {true, false}) {
    settings ? window.showSettings() : window.showHome();
    QWidget* widget = &window;
    do {
      widget = widget->nextInFocusChain();
      if (widget->isVisibleTo(&window) && (widget->focusPolicy() & Qt::TabFocus)) {
        reachable.push_back(widget);
        EXPECT_FALSE(
            QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name).isEmpty())
            << widget->metaObject()->className() << " " << widget->objectName().toStdString();
      }
    } while (widget != &window);
  }
  const auto reaches = [&](QWidget* target) {
    return std::find(reachable.begin(), reachable.end(), target) != reachable.end();
  };
  EXPECT_TRUE(reaches(child<QWidget>(window, "ejectAllButton")));
  EXPECT_TRUE(reaches(child<QWidget>(window, "settingsButton")));
  EXPECT_EQ(reaches(child<QWidget>(window, "messagesButton")), build_config::networkFeatures);
  EXPECT_TRUE(reaches(window.findChild<VolumeRowView*>()->findChild<QToolButton*>()));
}

TEST(Application, PendingMessageReachesTheWindowTheTrayAndTheTaskbar) {
  if (!build_config::networkFeatures) {
    GTEST_SKIP() << "built without the server conversation";
  }
  AppRig rig;
  rig.server.answer(200, MessageClientRig::offer("open", 7, "Hello & welcome"));
  Application& application = rig.launch();
  rig.settle();
  ASSERT_EQ(rig.alerts.titles(), std::vector<std::string>{L("messages.banner_title")});
  EXPECT_EQ(rig.alerts.shown.front().message, "Hello & welcome");

  // With the window closed the next message waits in the tray menu and on the badge.
  application.mainWindow()->hide();
  rig.server.answer(200, MessageClientRig::offer("open", 8, "Second"));
  application.messages().syncWithServer();
  rig.settle();
  EXPECT_EQ(rig.alerts.shown.size(), 1u);
  EXPECT_NE(itemShowing(rig.openTrayMenu(), L("messages.banner_title")), nullptr);
  ASSERT_FALSE(rig.badge.states.empty());
  EXPECT_TRUE(rig.badge.states.back());

  // A reply typed in the messages window goes to the server.
  application.messages().showMessages();
  QLineEdit* field = nullptr;
  for (QWidget* window : QApplication::topLevelWidgets())
    field = window->isVisible() && !field ? window->findChild<QLineEdit*>("replyField") : field;
  ASSERT_NE(field, nullptr);
  field->setText(QStringLiteral("Thanks, it works"));
  QTest::keyClick(field, Qt::Key_Return);
  rig.settle();
  EXPECT_NE(rig.server.received().back().body.find("Thanks, it works"), std::string::npos);
}

TEST(Application, AProblemReportThatFailedToSendComesBackAsTyped) {
  AppRig rig;
  Application& application = rig.launch();
  rig.server.answer(500, "");
  std::vector<QString> formsShown; // each form's text and address as it opens
  QTimer user;
  QObject::connect(&user, &QTimer::timeout, [&]() {
    auto* form = qobject_cast<ProblemReportForm*>(QApplication::activeModalWidget());
    if (form == nullptr) {
      return;
    }
    formsShown.push_back(form->description() + "|" + form->email());
    form->textArea()->setPlainText(QStringLiteral("It hangs"));
    form->emailField()->setText(QStringLiteral("me@example.org"));
    (formsShown.size() == 1 ? form->sendButton() : form->cancelButton())->click();
  });
  user.start(20);
  application.messages().reportProblem();
  rig.settle();
  EXPECT_EQ(formsShown, (std::vector<QString>{"|", "It hangs|me@example.org"}));
  EXPECT_EQ(rig.alerts.titles(), std::vector<std::string>{L("common.send_failed_title")});
}

TEST(Application, WithoutADisplayThatAnswersTheProgramSaysSoAndEnds) {
  // Nothing listens on these: an X server number nobody uses, a Wayland socket never made.
  for (const auto& [x11Display, waylandDisplay] :
       {std::pair<const char*, const char*>{nullptr, nullptr}, {":7341.0", "varnelo-none"}}) {
    EnvironmentVariable platform("QT_QPA_PLATFORM", nullptr);
    EnvironmentVariable x11("DISPLAY", x11Display);
    EnvironmentVariable wayland("WAYLAND_DISPLAY", waylandDisplay);
    char name[] = "varnelo-eject";
    char* arguments[] = {name, nullptr};
    testing::internal::CaptureStderr();
    EXPECT_EQ(runDesktopApplication(1, arguments), 1);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("DISPLAY"), std::string::npos);
  }
}

TEST(TrayIcon, OnlyAPlainClickEjectsAllControlOpensTheMenuWhereItCanAndIconsStandOut) {
  using enum TrayIcon::Click;
  const Qt::KeyboardModifiers none, control = Qt::ControlModifier;
  EXPECT_EQ(TrayIcon::clickAction(QSystemTrayIcon::Trigger, none, "wayland"), ejectAll);
  EXPECT_EQ(TrayIcon::clickAction(QSystemTrayIcon::Trigger, control, "xcb"), openMenu);
  EXPECT_EQ(TrayIcon::clickAction(QSystemTrayIcon::Trigger, control, "wayland"), nothing);
  EXPECT_EQ(TrayIcon::clickAction(QSystemTrayIcon::Trigger, control | Qt::AltModifier, "xcb"),
            nothing);
  EXPECT_EQ(TrayIcon::clickAction(QSystemTrayIcon::DoubleClick, none, "xcb"), nothing);

  // Drawn at the very sizes panels ask for, in the mounted colour.
  const QIcon icon = TrayIcon::colourIcon(QColor(124, 58, 237));
  EXPECT_TRUE(icon.availableSizes().contains(QSize(22, 22)));
  const QImage image = icon.pixmap(22).toImage().convertToFormat(QImage::Format_ARGB32);
  const auto* pixels = reinterpret_cast<const QRgb*>(image.constBits());
  EXPECT_GT(std::count(pixels, pixels + 22 * 22, QColor(124, 58, 237).rgba()), 40);
}
