#pragma once

#include <QMainWindow>

class HomePage;
class QAction;
class QMenu;
class QScrollArea;
class QStackedWidget;
class SettingsPage;

// The one main window: the home page and the settings page in a stack, and the menu bar.
// It fits itself into the screen's available area; where the default size does not fit, the
// volume list gives up height.
class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  // The designed 430 × 589 content, with the menu bar that sits inside the window here.
  static constexpr QSize defaultSize{430, 608};

  MainWindow(HomePage* home, SettingsPage* settings, QWidget* parent = nullptr);

  HomePage& home() const { return *home_; }
  bool showsSettings() const;

  // Sizes and centres the window on its screen, within the available area.
  void fitToScreen();
  // On screen, not minimised, raised and focused.
  void bringToFront();

  // The edit menu every window shares: it acts on the focused text field and is enabled only
  // while one has focus.
  static QMenu* createEditMenu(QWidget* parent);

 public slots:
  void showHome();
  void showSettings();
  // Ctrl+W: back from settings, else close the window.
  void closeOrBack();
  void setTicketOpen(bool open);

 signals:
  // The user closed the window (title bar or Ctrl+W), not the program quitting.
  void closedByUser();
  void checkForUpdatesRequested();
  void messagesRequested();
  void reportProblemRequested();
  void quitRequested();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void buildMenus();

  HomePage* home_;
  SettingsPage* settings_;
  QStackedWidget* pages_ = nullptr;
  QScrollArea* homeScroll_ = nullptr;
  QScrollArea* settingsScroll_ = nullptr;
  QAction* messagesAction_ = nullptr;
};
