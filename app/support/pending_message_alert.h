#pragma once

#include <QObject>
#include <QPointer>

#include "app/alert_presenter.h"
#include "app/display_environment.h"

class QWidget;
class SupportClient;

// A message from the maker, shown as an alert over the main window.
class PendingMessageAlert : public QObject {
  Q_OBJECT

 public:
  PendingMessageAlert(SupportClient& client, AlertPresenter& alerts, DisplayEnvironment& display,
                      QObject* parent = nullptr);

  void setMainWindow(QWidget* window) { mainWindow_ = window; }

 public slots:
  void show();
  // With the main window closed the message waits for the badge, the tray menu or the
  // messages window.
  void showOverVisibleWindow();

 signals:
  // The message has been read and recorded.
  void shown();

 private:
  SupportClient& client_;
  AlertPresenter& alerts_;
  DisplayEnvironment& display_;
  QPointer<QWidget> mainWindow_;
  // A check can land while the user still has the last message's alert open.
  bool alertOpen_ = false;
};
