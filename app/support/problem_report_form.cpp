#include "app/support/problem_report_form.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QTextCursor>
#include <QVBoxLayout>

#include "core/localization.h"
#include "views/localized_text.h"
#include "views/palette.h"

ProblemReportForm::ProblemReportForm(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("problemReportForm"));
  setWindowTitle(text("app.name"));
  setWindowModality(Qt::ApplicationModal);

  // Laid out like the other alerts: the application's icon beside a bold heading and the
  // explanation, then the fields, then the buttons.
  auto* icon = new QLabel(this);
  icon->setPixmap(QApplication::windowIcon().pixmap(64, 64));
  icon->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
  icon->setMinimumWidth(72);

  auto* title = new QLabel(text("report.title"), this);
  title->setObjectName(QStringLiteral("reportTitle"));
  title->setFont(systemFont(13, QFont::Bold));
  auto* message = new QLabel(text("report.message"), this);
  message->setObjectName(QStringLiteral("reportMessage"));
  message->setWordWrap(true);
  message->setMinimumWidth(accessoryWidth);

  // The text area over the address field, 10 apart; the design's 380 x 150 block is their
  // least size, and they grow with the fonts and the window.
  textArea_ = new QPlainTextEdit(this);
  textArea_->setMinimumSize(accessoryWidth, accessoryHeight - 40);
  textArea_->setAccessibleName(text("report.title"));
  textArea_->setObjectName(QStringLiteral("reportText"));
  textArea_->setFont(systemFont(13));
  textArea_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  textArea_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  // Tab moves on to the address instead of typing a tab.
  textArea_->setTabChangesFocus(true);
  emailField_ = new QLineEdit(this);
  emailField_->setObjectName(QStringLiteral("reportEmail"));
  emailField_->setPlaceholderText(text("report.email_placeholder"));
  emailField_->setAccessibleName(text("report.email_placeholder"));

  auto* buttons = new QDialogButtonBox(this);
  sendButton_ = buttons->addButton(text("common.send"), QDialogButtonBox::AcceptRole);
  sendButton_->setObjectName(QStringLiteral("reportSend"));
  cancelButton_ = buttons->addButton(text("common.cancel"), QDialogButtonBox::RejectRole);
  cancelButton_->setObjectName(QStringLiteral("reportCancel"));
  sendButton_->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* column = new QVBoxLayout();
  column->setSpacing(8);
  column->addWidget(title);
  column->addWidget(message);
  column->addSpacing(4);
  column->addWidget(textArea_, 1);
  column->addSpacing(2);
  column->addWidget(emailField_);
  auto* row = new QHBoxLayout();
  row->addWidget(icon);
  row->addLayout(column);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(20, 20, 20, 16);
  layout->setSizeConstraint(QLayout::SetMinimumSize);
  layout->addLayout(row);
  layout->addSpacing(8);
  layout->addWidget(buttons);

  textArea_->setFocus(Qt::OtherFocusReason);
}

QString ProblemReportForm::description() const {
  return textArea_->toPlainText();
}

QString ProblemReportForm::email() const {
  return emailField_->text();
}

void ProblemReportForm::setDraft(const QString& description, const QString& email) {
  textArea_->setPlainText(description);
  textArea_->moveCursor(QTextCursor::End);
  emailField_->setText(email);
}
