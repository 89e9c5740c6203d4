#include "app/qt_dispatcher.h"

#include <gtest/gtest.h>

#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
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

// A watched descriptor calls back on the main thread while it has something to read, until the
// watch stops, even from inside its own call.
TEST(QtDispatcher, WatchedDescriptorCallsBackOnMainUntilStopped) {
  QtDispatcher dispatcher;
  const int descriptor = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  ASSERT_GE(descriptor, 0);
  int calls = 0;
  std::uint64_t value = 0;
  ASSERT_TRUE(dispatcher.watchOnMain(descriptor, [&]() {
    ++calls;
    [[maybe_unused]] const auto got = read(descriptor, &value, sizeof value);
    if (value == 2) {
      dispatcher.stopWatching(descriptor);
    }
  }));
  const auto post = [&](std::uint64_t number) {
    std::thread([&, number]() {
      [[maybe_unused]] const auto put = write(descriptor, &number, sizeof number);
    }).join();
  };
  post(1);
  ASSERT_TRUE(QTest::qWaitFor([&]() { return calls == 1; }, 5000));
  post(2);
  ASSERT_TRUE(QTest::qWaitFor([&]() { return calls == 2; }, 5000));
  post(3);
  QTest::qWait(50);
  EXPECT_EQ(calls, 2);
  close(descriptor);
}
