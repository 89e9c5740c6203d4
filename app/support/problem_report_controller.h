#pragma once

#include <QObject>
#include <QPointer>

#include "app/alert_presenter.h"
#include "app/display_environment.h"

class QString;
class QWidget;
class SupportClient;

// The problem-report form and what becomes of a report.
class ProblemReportController : public QObject {
  Q_OBJECT

 public:
  ProblemReportController(SupportClient& client, AlertPresenter& alerts,
                          DisplayEnvironment& display, QObject* parent = nullptr);

  void setMainWindow(QWidget* window) { mainWindow_ = window; }

 public slots:
  void reportProblem();

 private:
  void openForm(const QString& description, const QString& email);

  SupportClient& client_;
  AlertPresenter& alerts_;
  DisplayEnvironment& display_;
  QPointer<QWidget> mainWindow_;
};
