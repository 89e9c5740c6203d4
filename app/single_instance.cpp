#include "app/single_instance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>

#include <QDir>
#include <QLockFile>
#include <QStandardPaths>

namespace {

constexpr int handOverTimeoutMs = 2000;
constexpr char reopenLine[] = "reopen\n";
// A caller that sends more than this without a line break is not a copy of ours.
constexpr qsizetype longestLine = 256;

// Plain sockets rather than QtNetwork: the resident program then never loads that library.
std::optional<sockaddr_un> addressOf(const QString& name) {
  const QByteArray path = QFile::encodeName(name);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.isEmpty() || static_cast<std::size_t>(path.size()) >= sizeof(address.sun_path)) {
    return std::nullopt;
  }
  std::memcpy(address.sun_path, path.constData(), static_cast<std::size_t>(path.size()));
  return address;
}

// Asks the running copy, if any, to come forward. True when one answered.
bool handOver(const sockaddr_un& address) {
  const int descriptor = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (descriptor < 0) {
    return false;
  }
  bool answered =
      ::connect(descriptor, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  if (answered) {
    // A copy too busy to read still has the line waiting for it; a full queue means it hangs.
    pollfd writable{descriptor, POLLOUT, 0};
    answered = ::poll(&writable, 1, handOverTimeoutMs) == 1 &&
               ::send(descriptor, reopenLine, sizeof reopenLine - 1, MSG_NOSIGNAL) ==
                   static_cast<ssize_t>(sizeof reopenLine - 1);
  }
  ::close(descriptor);
  return answered;
}

} // namespace

QString SingleInstance::defaultName() {
  // Qt makes sure the folder is the user's own and private, creating one when it must.
  const QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  return QDir(folder).filePath(QStringLiteral("varnelo-eject.socket"));
}

SingleInstance::SingleInstance(QString name, QObject* parent)
    : QObject(parent), name_(std::move(name)) {}

SingleInstance::~SingleInstance() {
  for (auto& [descriptor, caller] : callers_) {
    caller.readable.reset();
    ::close(descriptor);
  }
  if (listening_ >= 0) {
    incoming_.reset();
    ::close(listening_);
    // The next launch then finds no socket rather than one nobody answers on.
    ::unlink(QFile::encodeName(name_).constData());
  }
}

bool SingleInstance::claim() {
  // Two launches at the same moment must not both decide they are first.
  QLockFile lock(name_ + QStringLiteral(".lock"));
  lock.setStaleLockTime(10 * 1000);
  lock.tryLock(handOverTimeoutMs * 3);

  const std::optional<sockaddr_un> address = addressOf(name_);
  if (!address) {
    return true; // no socket can have this name: this copy runs, unfound by later launches
  }
  if (handOver(*address)) {
    return false;
  }
  // A copy that crashed leaves its socket file behind; nobody answered on it.
  ::unlink(address->sun_path);
  // When listening fails this copy still runs; it just cannot be found by later launches.
  listening_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (listening_ < 0) {
    return true;
  }
  if (::bind(listening_, reinterpret_cast<const sockaddr*>(&*address), sizeof *address) != 0 ||
      ::chmod(address->sun_path, S_IRUSR | S_IWUSR) != 0 || ::listen(listening_, 8) != 0) {
    ::close(listening_);
    listening_ = -1;
    return true;
  }
  incoming_ = std::make_unique<QSocketNotifier>(listening_, QSocketNotifier::Read);
  connect(incoming_.get(), &QSocketNotifier::activated, this, &SingleInstance::acceptConnections);
  return true;
}

void SingleInstance::acceptConnections() {
  for (;;) {
    const int descriptor = ::accept4(listening_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (descriptor < 0) {
      return; // EAGAIN: none left; anything else: the next wake tries again
    }
    Caller& caller = callers_[descriptor];
    caller.readable = std::make_unique<QSocketNotifier>(descriptor, QSocketNotifier::Read);
    connect(caller.readable.get(), &QSocketNotifier::activated, this,
            [this, descriptor]() { readFrom(descriptor); });
    readFrom(descriptor);
  }
}

void SingleInstance::readFrom(int descriptor) {
  const auto found = callers_.find(descriptor);
  if (found == callers_.end()) {
    return;
  }
  Caller& caller = found->second;
  int reopens = 0;
  char buffer[512];
  ssize_t got = 0;
  while ((got = ::recv(descriptor, buffer, sizeof buffer, 0)) > 0) {
    caller.unread.append(buffer, got);
    qsizetype end = 0;
    while ((end = caller.unread.indexOf('\n')) >= 0) {
      reopens += caller.unread.first(end + 1) == reopenLine ? 1 : 0;
      caller.unread.remove(0, end + 1);
    }
    if (caller.unread.size() > longestLine) {
      got = 0;
      break;
    }
  }
  if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
    // Hung up, or talking nonsense: let it go. The notifier goes later, outside its own signal.
    caller.readable->setEnabled(false);
    caller.readable.release()->deleteLater();
    callers_.erase(found);
    ::close(descriptor);
  }
  // Last: coming forward may run an event loop that reads from this caller again.
  for (; reopens > 0; --reopens) {
    emit reopenRequested();
  }
}
