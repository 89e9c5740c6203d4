#include "app/qt_alert_presenter.h"

#include <algorithm>
#include <utility>
#include <vector>

#include <QGridLayout>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTextDocument>
#include <QString>
#include <QWidget>

#include "core/localization.h"
#include "views/localized_text.h"

namespace {

// Past this many characters a message no longer fits a label on screen.
constexpr qsizetype longMessageLength = 1000;

QMessageBox::Icon iconFor(Alert::Style style) {
  switch (style) {
  case Alert::Style::informational:
    return QMessageBox::Information;
  case Alert::Style::warning:
    return QMessageBox::Warning;
  case Alert::Style::critical:
    return QMessageBox::Critical;
  }
  return QMessageBox::NoIcon;
}

} // namespace

QtAlertPresenter::QtAlertPresenter(DisplayEnvironment& environment,
                                   std::function<QWidget*()> mainWindow)
    : environment_(environment), mainWindow_(std::move(mainWindow)) {}

int QtAlertPresenter::present(const Alert& alert) {
  QWidget* window = mainWindow_ ? mainWindow_() : nullptr;
  environment_.activateApplication(window);

  // A hidden window would take the box off screen with it; then the box stands alone.
  QWidget* parent = (window != nullptr && window->isVisible()) ? window : nullptr;
  // The title is the alert's heading, in bold above the message, as desktop alerts show it;
  // the window title names the application, since window managers often hide it anyway.
  QMessageBox box(parent);
  box.setIcon(iconFor(alert.style));
  box.setWindowTitle(text("app.name"));
  box.setTextFormat(Qt::RichText);
  box.setText(QStringLiteral("<b>%1</b>").arg(QString::fromStdString(alert.title).toHtmlEscaped()));
  box.setAccessibleName(QString::fromStdString(alert.title));
  const QString message = QString::fromStdString(alert.message);
  if (message.size() <= longMessageLength) {
    // Plain text throughout: names and server texts may hold "&", "<" or quotes.
    box.setInformativeText(Qt::convertFromPlainText(message, Qt::WhiteSpaceNormal));
  }
  box.setWindowModality(Qt::ApplicationModal);
  if (alert.icon) {
    const QIcon icon = QIcon::fromTheme(QString::fromStdString(*alert.icon),
                                        QIcon(QString::fromStdString(*alert.icon)));
    if (!icon.isNull()) {
      box.setIconPixmap(icon.pixmap(64, 64));
    }
  }

  if (message.size() > longMessageLength) {
    // A label would grow past the screen and take the buttons with it: the text scrolls in a
    // box of its own, where the informative text would stand.
    auto* scrolling = new QPlainTextEdit(message);
    scrolling->setObjectName(QStringLiteral("longMessage"));
    scrolling->setReadOnly(true);
    scrolling->setAccessibleName(QString::fromStdString(alert.title));
    const QScreen* screen = parent != nullptr ? parent->screen() : QGuiApplication::primaryScreen();
    // The box never grows past its screen, so neither does the text on a small one.
    scrolling->setMinimumWidth(420);
    if (screen != nullptr) {
      scrolling->setMaximumHeight(screen->availableGeometry().height() * 3 / 5);
      scrolling->setMinimumWidth(std::min(420, screen->availableGeometry().width() * 3 / 5));
    }
    // Under the title, as wide as the title's column and those after it; the title keeps the
    // same width, so it stays one readable line on top instead of a narrow column.
    auto* grid = qobject_cast<QGridLayout*>(box.layout());
    auto* title = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
    if (grid != nullptr && title != nullptr) {
      int row = 0, column = 0, rows = 0, columns = 0;
      grid->getItemPosition(grid->indexOf(title), &row, &column, &rows, &columns);
      title->setMinimumWidth(scrolling->minimumWidth());
      grid->addWidget(scrolling, row + rows, column, 1, grid->columnCount() - column);
    }
  }

  std::vector<std::string> titles = alert.buttons;
  if (titles.empty()) {
    titles.push_back(L("common.ok"));
  }
  // The first button accepts and is the default; the second is what Escape presses unless the
  // alert says otherwise. The
  // desktop's own convention decides where each one sits.
  std::vector<QPushButton*> buttons;
  // Qt's box lets a reject button answer Escape whatever escape button it is given.
  const std::size_t escape = std::min<std::size_t>(
      alert.escapeButton.value_or(titles.size() > 1 ? 1 : 0), titles.size() - 1);
  for (std::size_t index = 0; index < titles.size(); ++index) {
    const auto role = index == 0        ? QMessageBox::AcceptRole
                      : index == escape ? QMessageBox::RejectRole
                                        : QMessageBox::ActionRole;
    buttons.push_back(box.addButton(QString::fromStdString(titles[index]), role));
  }
  box.setDefaultButton(buttons.front());
  box.setEscapeButton(buttons.at(escape));

  box.show();
  environment_.activateApplication(&box);
  box.exec();

  QAbstractButton* clicked = box.clickedButton();
  for (std::size_t index = 0; index < buttons.size(); ++index) {
    if (buttons[index] == clicked) {
      return static_cast<int>(index);
    }
  }
  return -1;
}
