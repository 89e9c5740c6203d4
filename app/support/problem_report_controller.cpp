#include "app/support/problem_report_controller.h"

#include <optional>
#include <string>

#include "app/support/problem_report_form.h"
#include "core/localization.h"
#include "core/support/support_client.h"

ProblemReportController::ProblemReportController(SupportClient& client, AlertPresenter& alerts,
                                                 DisplayEnvironment& display, QObject* parent)
    : QObject(parent), client_(client), alerts_(alerts), display_(display) {}

void ProblemReportController::reportProblem() {
  openForm({}, {});
}

void ProblemReportController::openForm(const QString& description, const QString& email) {
  // Over the main window while it is on screen; standing alone otherwise.
  QWidget* parent = (mainWindow_ && mainWindow_->isVisible()) ? mainWindow_.data() : nullptr;
  ProblemReportForm form(parent);
  form.setDraft(description, email);
  display_.activateApplication(mainWindow_);
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
  QPointer<ProblemReportController> self(this);
  client_.reportProblem(
      text, form.email().toStdString(),
      [self, typed = form.description(), typedEmail = form.email()](bool accepted) {
        if (!self) {
          return;
        }
        if (accepted) {
          self->alerts_.present({.style = Alert::Style::informational,
                                 .title = L("report.sent_title"),
                                 .message = L("report.sent_message"),
                                 .buttons = {},
                                 .icon = std::nullopt});
          return;
        }
        self->alerts_.present({.style = Alert::Style::warning,
                               .title = L("common.send_failed_title"),
                               .message = L("report.failed_message"),
                               .buttons = {},
                               .icon = std::nullopt});
        // Nothing the user typed is lost: the form comes back as they left it.
        if (self) {
          self->openForm(typed, typedEmail);
        }
      });
}
