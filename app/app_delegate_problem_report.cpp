#include <string>

#include <QMainWindow>
#include <QPointer>

#include "app/app_delegate.h"
#include "app/support/problem_report_form.h"
#include "core/localization.h"
#include "core/support/support_client.h"

void AppDelegate::reportProblemPressed() {
  // Over the main window while it is on screen; standing alone otherwise.
  QWidget* parent = (mainWindow && mainWindow->isVisible()) ? mainWindow.data() : nullptr;
  ProblemReportForm form(parent);
  activateIgnoringOtherApps();
  form.show();
  display_.activateApplication(&form);
  if (form.exec() != QDialog::Accepted) {
    return;
  }
  const std::string text = form.description().trimmed().toStdString();
  if (text.empty()) {
    return;
  }
  // The address goes as typed; the server decides what to make of it.
  const std::string email = form.email().toStdString();

  QPointer<AppDelegate> self(this);
  supportClient().reportProblem(text, email, [self](bool accepted) {
    if (!self) {
      return;
    }
    if (accepted) {
      self->alerts_.present({Alert::Style::informational,
                             L("report.sent_title"),
                             L("report.sent_message"),
                             {},
                             std::nullopt});
    } else {
      self->alerts_.present({Alert::Style::warning,
                             L("common.send_failed_title"),
                             L("report.failed_message"),
                             {},
                             std::nullopt});
    }
  });
}
