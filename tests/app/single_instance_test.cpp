#include "app/single_instance.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QSignalSpy>
#include <QUuid>

namespace {

QString uniqueName() {
  return QStringLiteral("varnelo-eject-test-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
}

} // namespace

TEST(SingleInstance, SecondLaunchHandsOverAndTheFirstIsAskedToReopen) {
  const QString name = uniqueName();
  SingleInstance first(name);
  ASSERT_TRUE(first.claim());
  QSignalSpy reopen(&first, &SingleInstance::reopenRequested);

  SingleInstance second(name);
  EXPECT_FALSE(second.claim());
  ASSERT_TRUE(reopen.wait(5000));
  EXPECT_EQ(reopen.count(), 1);
}

TEST(SingleInstance, LeftoverSocketOfACrashedCopyDoesNotBlockTheNextOne) {
  const QString name = uniqueName();
  {
    // A listener that goes away without answering anyone stands in for a crashed copy.
    QLocalServer stale;
    stale.setSocketOptions(QLocalServer::UserAccessOption);
    ASSERT_TRUE(stale.listen(name));
    stale.close();
  }
  SingleInstance next(name);
  EXPECT_TRUE(next.claim());
  SingleInstance later(name);
  EXPECT_FALSE(later.claim());
}
