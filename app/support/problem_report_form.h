#pragma once

#include <QDialog>
#include <QString>

class QLineEdit;
class QPlainTextEdit;
class QPushButton;

// The form that asks what went wrong and, optionally, for an e-mail address: a heading, a
// line of explanation, a plain-text area, an address field, Send and Cancel.
class ProblemReportForm : public QDialog {
  Q_OBJECT

 public:
  static constexpr int accessoryWidth = 380;
  static constexpr int accessoryHeight = 150;

  explicit ProblemReportForm(QWidget* parent = nullptr);

  // The description as typed, and the address as typed.
  QString description() const;
  QString email() const;
  // Puts back what the user typed before, when a report failed to send.
  void setDraft(const QString& description, const QString& email);

  QPlainTextEdit* textArea() const { return textArea_; }
  QLineEdit* emailField() const { return emailField_; }
  QPushButton* sendButton() const { return sendButton_; }
  QPushButton* cancelButton() const { return cancelButton_; }

 private:
  QPlainTextEdit* textArea_ = nullptr;
  QLineEdit* emailField_ = nullptr;
  QPushButton* sendButton_ = nullptr;
  QPushButton* cancelButton_ = nullptr;
};
