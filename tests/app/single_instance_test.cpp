#include "app/single_instance.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QSignalSpy>
#include <QThread>

#include "tests/support/temporary_folder.h"

TEST(SingleInstance, OneCopyRunsWhateverIsLeftAroundOrHoweverLaunchesRace) {
  TemporaryFolder folder;
  const QString name = QString::fromStdString((folder / "varnelo-eject.socket").string());
  {
    SCOPED_TRACE("a crashed copy's socket file is replaced, and a later launch hands over");
    // Bound, then abandoned without unlinking, as a crashed copy leaves it.
    const int descriptor = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
    std::strncpy(address.sun_path, name.toLocal8Bit().constData(), sizeof(address.sun_path) - 1);
    ASSERT_EQ(::bind(descriptor, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(descriptor);
    SingleInstance first(name);
    ASSERT_TRUE(first.claim());
    QSignalSpy reopen(&first, &SingleInstance::reopenRequested);
    SingleInstance second(name);
    EXPECT_FALSE(second.claim());
    ASSERT_TRUE(reopen.wait(5000));
  }
  {
    SCOPED_TRACE("two launches at the same moment give one running copy");
    std::atomic<int> running = 0;
    std::atomic<bool> go = false;
    const auto launch = [&]() {
      auto copy = std::make_unique<SingleInstance>(name);
      while (!go) {
        std::this_thread::yield();
      }
      running += copy->claim() ? 1 : 0;
      // Alive until both have decided, as a running copy would be.
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
    };
    // Qt threads, so that each copy's socket has an event dispatcher like a real process's.
    std::unique_ptr<QThread> one(QThread::create(launch));
    std::unique_ptr<QThread> two(QThread::create(launch));
    one->start();
    two->start();
    go = true;
    one->wait();
    two->wait();
    EXPECT_EQ(running, 1);
  }
}

TEST(SingleInstance, TheSocketLivesInTheUsersPrivateRuntimeFolder) {
  const QFileInfo folder(QFileInfo(SingleInstance::defaultName()).absolutePath());
  EXPECT_FALSE(SingleInstance::defaultName().startsWith(QStringLiteral("/tmp/varnelo")));
  EXPECT_EQ(folder.ownerId(), ::getuid());
  EXPECT_EQ(folder.permissions() & (QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther |
                                    QFile::WriteOther | QFile::ExeGroup | QFile::ExeOther),
            QFile::Permissions());
}
