#include "app/qt_dispatcher.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include <QCoreApplication>
#include <QTest>

TEST(QtDispatcher, MainTasksRunLaterInOrderBackgroundOnesReportBackAndAGoneOnesNever) {
  QtDispatcher dispatcher;
  const std::thread::id mainThread = std::this_thread::get_id();
  std::vector<int> order;
  std::atomic<bool> ranElsewhere = false;
  std::thread::id reportedOn;
  dispatcher.runOnMain([&]() { order.push_back(1); });
  dispatcher.runOnMain([&]() { order.push_back(2); });
  EXPECT_TRUE(order.empty());
  dispatcher.runInBackground([&]() {
    ranElsewhere = std::this_thread::get_id() != mainThread;
    dispatcher.runOnMain([&]() { reportedOn = std::this_thread::get_id(); });
  });
  ASSERT_TRUE(QTest::qWaitFor([&]() { return reportedOn != std::thread::id(); }, 5000));
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
  EXPECT_TRUE(ranElsewhere);
  EXPECT_EQ(reportedOn, mainThread);

  bool ran = false;
  std::make_unique<QtDispatcher>()->runOnMain([&]() { ran = true; });
  QCoreApplication::processEvents();
  EXPECT_FALSE(ran);
}
