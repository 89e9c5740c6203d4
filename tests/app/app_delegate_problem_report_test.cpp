#include <functional>
#include <string>

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "app/support/problem_report_form.h"
#include "core/localization.h"
#include "tests/app/messages_rig.h"

namespace {

class ProblemReports : public testing::Test {
 protected:
  void SetUp() override {
    rig.launch();
    rig.settle();
  }

  // Opens the form, lets `fill` act on it while it runs, and settles the request.
  void report(std::function<void(ProblemReportForm&)> fill) {
    QTimer::singleShot(0, [fill]() {
      auto* form = qobject_cast<ProblemReportForm*>(QApplication::activeModalWidget());
      ASSERT_NE(form, nullptr);
      fill(*form);
    });
    rig.app.delegate->reportProblemPressed();
    rig.settle();
  }

  static std::function<void(ProblemReportForm&)> typeAndSend(const QString& text,
                                                             const QString& email) {
    return [text, email](ProblemReportForm& form) {
      form.textArea()->setPlainText(text);
      form.emailField()->setText(email);
      QTest::mouseClick(form.sendButton(), Qt::LeftButton);
    };
  }

  std::vector<LoopbackHttpServer::Received> reports() const {
    return rig.requestsTo("/eject/v1/report");
  }

  MessagesRig rig;
};

TEST_F(ProblemReports, FormHasItsFieldsAndButtonsAndCancelOrABlankDescriptionSendsNothing) {
  report([](ProblemReportForm& form) {
    EXPECT_EQ(form.textArea()->geometry(), QRect(0, 6, 380, 110));
    EXPECT_EQ(form.emailField()->geometry(), QRect(0, 126, 380, 24));
    EXPECT_EQ(form.emailField()->placeholderText().toStdString(), L("report.email_placeholder"));
    EXPECT_TRUE(form.emailField()->text().isEmpty());
    EXPECT_EQ(form.sendButton()->text().toStdString(), L("common.send"));
    EXPECT_EQ(form.cancelButton()->text().toStdString(), L("common.cancel"));
    EXPECT_EQ(form.focusWidget(), form.textArea());
    form.textArea()->setPlainText(QStringLiteral("Something broke"));
    QTest::mouseClick(form.cancelButton(), Qt::LeftButton);
  });
  report(typeAndSend(QStringLiteral("  \n\t \n "), QStringLiteral("me@example.org")));

  EXPECT_TRUE(reports().empty());
  EXPECT_TRUE(rig.app.alerts.shown.empty());
}

TEST_F(ProblemReports, SendsTheTrimmedDescriptionAndTheAddressOnlyWhenOneIsTyped) {
  rig.server.answer(200, R"({"ok":true})");

  report(typeAndSend(QStringLiteral("\n  The disk stays busy\nafter sleep  \n"),
                     QStringLiteral("   ")));
  // Return in the address field sends too.
  report([](ProblemReportForm& form) {
    form.textArea()->setPlainText(QStringLiteral("It crashed"));
    QTest::keyClick(form.emailField(), Qt::Key_Return);
  });

  ASSERT_EQ(reports().size(), 2u);
  const nlohmann::json first = nlohmann::json::parse(reports()[0].body);
  EXPECT_EQ(first["text"], "The disk stays busy\nafter sleep");
  EXPECT_EQ(first["email"], "   ");
  EXPECT_FALSE(nlohmann::json::parse(reports()[1].body).contains("email"));
  ASSERT_EQ(rig.app.alerts.shown.size(), 2u);
  EXPECT_EQ(rig.app.alerts.shown[0].title, L("report.sent_title"));
  EXPECT_EQ(rig.app.alerts.shown[0].message, L("report.sent_message"));
}

TEST_F(ProblemReports, AnythingButStatus200WithOkTrueShowsTheFailureAlert) {
  for (const auto& [status, answer] :
       {std::pair{201, R"({"ok":true})"}, std::pair{200, R"({"ok":"true"})"},
        std::pair{200, R"({})"}}) {
    SCOPED_TRACE(answer);
    rig.app.alerts.shown.clear();
    rig.server.answer(status, answer);

    report(typeAndSend(QStringLiteral("Report"), QString()));

    ASSERT_EQ(rig.app.alerts.shown.size(), 1u);
    EXPECT_EQ(rig.app.alerts.shown[0].style, Alert::Style::warning);
    EXPECT_EQ(rig.app.alerts.shown[0].title, L("common.send_failed_title"));
    EXPECT_EQ(rig.app.alerts.shown[0].message, L("report.failed_message"));
  }
}

} // namespace
