#include "desktop/instance_channel.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <memory>
#include <thread>

#include "core/no_throw.h"
#include "core/strings.h"
#include "desktop/instance_wire.h"
#include "ui/events.h"

namespace lunadio {
namespace {

using desktop::WireState;
using Clock = std::chrono::steady_clock;

// A client gets this long to send its request; one that stalls is dropped.
constexpr int kClientIdleMs = 1000;
// Connections served at once; the kernel's backlog of the same size holds the rest.
constexpr int kMaxConnections = 8;

std::string baseName(const std::string& path) {
  const auto slash = path.find_last_of('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  return name.empty() ? std::string("lunadio") : name;
}

enum class CreateDirectory { No, Yes };

// True when `dir` is a real directory of ours that nobody else can enter (made so if needed).
bool privateDirectory(const std::string& dir, CreateDirectory create) {
  if (create == CreateDirectory::Yes && ::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
    return false;
  }
  struct stat info {};
  if (::lstat(dir.c_str(), &info) != 0) return false;
  if (!S_ISDIR(info.st_mode) || info.st_uid != ::geteuid()) return false;
  if ((info.st_mode & 077) != 0 && ::chmod(dir.c_str(), 0700) != 0) return false;
  return true;
}

bool ownedDirectory(const char* dir) {
  struct stat info {};
  return dir != nullptr && dir[0] == '/' && ::stat(dir, &info) == 0 && S_ISDIR(info.st_mode) &&
         info.st_uid == ::geteuid();
}

std::string channelPath(const std::string& programName, CreateDirectory create) {
  const std::string name = baseName(programName);
  std::string dir;
  const char* runtimeDir = std::getenv("XDG_RUNTIME_DIR");
  if (ownedDirectory(runtimeDir) &&
      privateDirectory(std::string(runtimeDir) + "/" + name, create)) {
    dir = std::string(runtimeDir) + "/" + name;
  } else {
    dir = "/tmp/" + name + "-" + std::to_string(::geteuid());
    if (!privateDirectory(dir, create)) return {};
  }
  std::string path = dir + "/instance";
  if (path.size() >= sizeof(sockaddr_un::sun_path)) return {};
  return path;
}

bool onMainThread() {
  const QCoreApplication* app = QCoreApplication::instance();
  return app != nullptr && QThread::currentThread() == app->thread();
}

bool peerIsThisUser(qintptr descriptor) {
  ucred credentials{};
  socklen_t length = sizeof credentials;
  if (::getsockopt(static_cast<int>(descriptor), SOL_SOCKET, SO_PEERCRED, &credentials, &length) !=
      0) {
    return false;
  }
  return credentials.uid == ::geteuid();
}

void holdRequest(InstanceRequest request);

// One client: reads at most one request, answers, and goes. Owns its socket (a Qt child).
class ChannelConnection : public QObject {
 public:
  ChannelConnection(QLocalSocket* socket, std::function<void()> onFinished, QObject* parent)
      : QObject(parent), socket_(socket), onFinished_(std::move(onFinished)) {
    socket_->setParent(this);
    // Qt's own buffer stays as small as ours.
    socket_->setReadBufferSize(static_cast<qint64>(InstanceRequestMaxBytes) + 1);
    connect(socket_, &QLocalSocket::readyRead, this, [this] { readRequest(); });
    connect(socket_, &QLocalSocket::disconnected, this, [this] {
      if (socket_->bytesAvailable() > 0) readRequest();
      finish();
    });
    idleTimer_.setSingleShot(true);
    connect(&idleTimer_, &QTimer::timeout, this, [this] { finish(); });
    idleTimer_.start(kClientIdleMs);
  }

 private:
  void readRequest() {
    if (finished_ || !socket_->isOpen()) return;
    const qint64 room = static_cast<qint64>(InstanceRequestMaxBytes + 1 - received_.size());
    const QByteArray chunk = socket_->read(room);
    received_.append(chunk.constData(), static_cast<std::size_t>(chunk.size()));
    const desktop::WireParse parsed = desktop::parseInstanceRequest(received_);
    if (parsed.state == WireState::Incomplete) return;
    if (parsed.state == WireState::Complete) {
      holdRequest(parsed.request);
      socket_->write(desktop::kInstanceAnswer.data(),
                     static_cast<qint64>(desktop::kInstanceAnswer.size()));
      socket_->flush();
    }
    finish();
  }

  void finish() {
    if (finished_) return;
    finished_ = true;
    idleTimer_.stop();
    socket_->abort();
    onFinished_();
    deleteLater();
  }

  // -- main thread only, like the whole server
  QLocalSocket* socket_;
  std::function<void()> onFinished_;
  QTimer idleTimer_;
  std::string received_;
  bool finished_ = false;
};

class InstanceServer : public QObject {
 public:
  bool listen(const std::string& path) {
    server_.setMaxPendingConnections(kMaxConnections);
    connect(&server_, &QLocalServer::newConnection, this, [this] { acceptPending(); });
    const QString name = QFile::decodeName(QByteArray::fromStdString(path));
    // We hold the single-instance guard, so a socket already there is a crashed instance's.
    QLocalServer::removeServer(name);
    if (!server_.listen(name)) return false;
    // The directory is 0700 already; the socket's own mode says the same.
    ::chmod(path.c_str(), 0600);
    return true;
  }

  ~InstanceServer() override {
    server_.close();
    // The connections are children of this object and go with it.
  }

 private:
  void acceptPending() {
    while (QLocalSocket* socket = server_.nextPendingConnection()) {
      if (openConnections_ >= kMaxConnections || !peerIsThisUser(socket->socketDescriptor())) {
        socket->abort();
        socket->deleteLater();
        continue;
      }
      ++openConnections_;
      new ChannelConnection(
          socket, [this] { --openConnections_; }, this);  // owned by this
    }
  }

  // -- main thread only
  QLocalServer server_;
  int openConnections_ = 0;
};

struct ChannelState {
  // -- main thread only
  std::unique_ptr<InstanceServer> server;
  std::string socketPath;
  std::deque<InstanceRequest> requests;
};

ChannelState& state() {
  static ChannelState instance;
  return instance;
}

void holdRequest(InstanceRequest request) {
  std::deque<InstanceRequest>& requests = state().requests;
  const std::size_t heldBefore = requests.size();
  // Only the newest track is worth opening: each would replace the one before at once. A show
  // request already waiting covers a new one. So at most one of each kind waits.
  if (request.kind == InstanceRequestKind::OpenTrack) {
    std::erase_if(requests, [](const InstanceRequest& held) {
      return held.kind == InstanceRequestKind::OpenTrack;
    });
  } else if (std::find(requests.begin(), requests.end(), request) != requests.end()) {
    return;
  }
  requests.push_back(std::move(request));
  // One event per held request: a replaced request's event serves its successor.
  if (requests.size() > heldBefore) postEvent(EventInstanceRequest, 0, 0, 0, 0);
}

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

int msLeft(Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

bool waitFor(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    pollfd entry{fd, events, 0};
    const int ready = ::poll(&entry, 1, msLeft(deadline));
    if (ready > 0) return true;
    if (ready == 0 || errno != EINTR) return false;
  }
}

ForwardResult forward(const std::string& programName, const InstanceRequest& request,
                      int timeoutMs) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  const std::string path = channelPath(programName, CreateDirectory::No);
  if (path.empty()) return ForwardResult::NoInstance;

  InstanceRequest sent = request;
  if (sent.kind == InstanceRequestKind::OpenTrack && (sent.path.empty() || sent.path[0] != u'/')) {
    char cwd[4096];
    if (::getcwd(cwd, sizeof cwd) == nullptr) return ForwardResult::Refused;
    sent.path = fromUtf8(cwd) + u"/" + sent.path;
  }
  const std::string bytes = desktop::encodeInstanceRequest(sent);
  if (bytes.size() > InstanceRequestMaxBytes) return ForwardResult::Refused;

  FileDescriptor socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (socket.get() < 0) return ForwardResult::NoInstance;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  path.copy(address.sun_path, sizeof address.sun_path - 1);
  // A local connect never half-succeeds: it is made, refused, or the backlog is full (EAGAIN),
  // in which case it is tried again until the deadline.
  for (;;) {
    if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
      break;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN) return ForwardResult::NoInstance;
    if (msLeft(deadline) == 0) return ForwardResult::Busy;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }

  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t count =
        ::send(socket.get(), bytes.data() + written, bytes.size() - written, MSG_NOSIGNAL);
    if (count > 0) {
      written += static_cast<std::size_t>(count);
    } else if (count < 0 && errno == EINTR) {
      continue;
    } else if (count < 0 && errno == EAGAIN) {
      if (!waitFor(socket.get(), POLLOUT, deadline)) return ForwardResult::Busy;
    } else {
      return ForwardResult::NoInstance;
    }
  }

  char answer[8];
  std::size_t got = 0;
  while (got < desktop::kInstanceAnswer.size() && waitFor(socket.get(), POLLIN, deadline)) {
    const ssize_t count = ::recv(socket.get(), answer + got, sizeof answer - got, 0);
    if (count > 0) {
      got += static_cast<std::size_t>(count);
    } else if (count == 0 || errno != EINTR) {
      break;
    }
  }
  return std::string_view(answer, got) == desktop::kInstanceAnswer ? ForwardResult::Acknowledged
                                                                   : ForwardResult::Unanswered;
}

}  // namespace

std::string instanceChannelPath(const std::string& programName) {
  return noThrow(std::string(), [&] { return channelPath(programName, CreateDirectory::Yes); });
}

bool startInstanceChannel(const std::string& programName) {
  if (!onMainThread()) return false;
  stopInstanceChannel();
  return noThrow(false, [&] {
    ChannelState& s = state();
    const std::string path = channelPath(programName, CreateDirectory::Yes);
    if (path.empty()) return false;
    auto server = std::make_unique<InstanceServer>();
    if (!server->listen(path)) return false;
    s.server = std::move(server);
    s.socketPath = path;
    return true;
  });
}

void stopInstanceChannel() {
  if (!onMainThread()) return;
  ChannelState& s = state();
  if (!s.server) return;
  s.server.reset();
  // QLocalServer removes its socket file when it closes; this covers a failed close.
  ::unlink(s.socketPath.c_str());
  s.socketPath.clear();
  s.requests.clear();
}

bool instanceChannelListening() { return state().server != nullptr; }

std::optional<InstanceRequest> takeInstanceRequest() {
  std::deque<InstanceRequest>& requests = state().requests;
  if (requests.empty()) return std::nullopt;
  InstanceRequest request = std::move(requests.front());
  requests.pop_front();
  return request;
}

ForwardResult forwardToRunningInstance(const std::string& programName,
                                       const InstanceRequest& request, int timeoutMs) {
  return noThrow(ForwardResult::NoInstance,
                 [&] { return forward(programName, request, timeoutMs); });
}

}  // namespace lunadio
