#include "desktop/instance_channel.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "core/no_throw.h"
#include "core/strings.h"
#include "core/unique_fd.h"
#include "desktop/instance_socket.h"
#include "desktop/instance_wire.h"
#include "ui/events.h"

namespace lunadio {
namespace {

using desktop::asSockaddr;
using desktop::channelPath;
using desktop::CreateDirectory;
using desktop::socketAddress;
using desktop::streamSocket;
using desktop::WireState;
using Clock = std::chrono::steady_clock;

// A client gets this long to send its request; one that stalls is dropped.
constexpr int kClientIdleMs = 1000;
// Connections served at once; the kernel's backlog of the same size holds the rest.
constexpr int kMaxConnections = 8;
// How soon accepting is tried again after the process ran out of descriptors or memory.
constexpr int kAcceptRetryMs = 100;

bool onMainThread() {
  const QCoreApplication* app = QCoreApplication::instance();
  return app != nullptr && QThread::currentThread() == app->thread();
}

bool peerIsThisUser(int fd) {
  ucred credentials{};
  socklen_t length = sizeof credentials;
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) return false;
  return credentials.uid == ::geteuid();
}

// A socket file already at `address` belongs either to a live instance, which is never taken
// over, or to one that crashed: nothing accepts on it any more, so a connection is refused.
bool staleSocket(const sockaddr_un& address) {
  const UniqueFd probe = streamSocket();
  if (!probe) return false;
  for (;;) {
    if (::connect(probe.get(), asSockaddr(address), sizeof address) == 0) return false;
    if (errno == EINTR) continue;
    // EAGAIN is a live listener with a full backlog; ENOENT, a file gone since bind() saw it.
    return errno == ECONNREFUSED || errno == ENOENT;
  }
}

void holdRequest(InstanceRequest request);

// One client: reads at most one request, answers, and goes. Nothing it does waits: the loop only
// hears from it when its socket can be read or written, or when its second is up.
class ChannelConnection {
 public:
  ChannelConnection(UniqueFd socket, std::function<void()> onFinished)
      : socket_(std::move(socket)),
        readable_(socket_.get(), QSocketNotifier::Read),
        writable_(socket_.get(), QSocketNotifier::Write),
        onFinished_(std::move(onFinished)) {
    writable_.setEnabled(false);
    QObject::connect(&readable_, &QSocketNotifier::activated, &readable_,
                     [this] { guarded(&ChannelConnection::readRequest); });
    QObject::connect(&writable_, &QSocketNotifier::activated, &writable_,
                     [this] { guarded(&ChannelConnection::writeAnswer); });
    idleTimer_.setSingleShot(true);
    QObject::connect(&idleTimer_, &QTimer::timeout, &idleTimer_, [this] { finish(); });
    idleTimer_.start(kClientIdleMs);
  }
  ChannelConnection(const ChannelConnection&) = delete;
  ChannelConnection& operator=(const ChannelConnection&) = delete;

  bool finished() const { return finished_; }

 private:
  // Qt's event loop calls these, and no exception may cross it: a connection whose step throws
  // (memory gone) is dropped instead.
  void guarded(void (ChannelConnection::*step)()) {
    if (!noThrow(false, [&] {
          (this->*step)();
          return true;
        })) {
      finish();
    }
  }

  void readRequest() {
    std::array<char, 4096> chunk;
    while (!finished_) {
      // Never more than one byte past the limit: enough for the parser to refuse, no more kept.
      const std::size_t room =
          std::min(chunk.size(), InstanceRequestMaxBytes + 1 - received_.size());
      const ssize_t count = ::recv(socket_.get(), chunk.data(), room, 0);
      if (count < 0 && errno == EINTR) continue;
      // The rest of the request has not come yet; the notifier calls again when it does.
      if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
      // An error, or the client hung up before its request was whole.
      if (count <= 0) return finish();
      received_.append(chunk.data(), static_cast<std::size_t>(count));
      const desktop::WireParse parsed = desktop::parseInstanceRequest(received_);
      if (parsed.state == WireState::Incomplete) continue;
      if (parsed.state == WireState::Invalid) return finish();
      holdRequest(parsed.request);
      // Whatever else comes is not read: one request per connection.
      readable_.setEnabled(false);
      return writeAnswer();
    }
  }

  void writeAnswer() {
    const std::string_view answer = desktop::kInstanceAnswer;
    while (answered_ < answer.size()) {
      // MSG_NOSIGNAL: a client that has gone must not take the player down with SIGPIPE.
      const ssize_t count =
          ::send(socket_.get(), answer.data() + answered_, answer.size() - answered_, MSG_NOSIGNAL);
      if (count > 0) {
        answered_ += static_cast<std::size_t>(count);
      } else if (count < 0 && errno == EINTR) {
        continue;
      } else if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        // A full buffer: the rest goes when there is room, within the client's second.
        writable_.setEnabled(true);
        return;
      } else {
        break;  // the client left without its answer; its request is queued all the same
      }
    }
    finish();
  }

  void finish() {
    if (finished_) return;
    finished_ = true;
    readable_.setEnabled(false);
    writable_.setEnabled(false);
    idleTimer_.stop();
    // The client sees the end now; the descriptor itself is closed when the server drops this
    // object, outside the notifier's own signal.
    ::shutdown(socket_.get(), SHUT_RDWR);
    onFinished_();
  }

  // -- main thread only, like the whole server. The socket comes first so that it is closed
  // last: a notifier must never watch a descriptor that is closed, and perhaps already reused.
  UniqueFd socket_;
  QSocketNotifier readable_;
  QSocketNotifier writable_;
  QTimer idleTimer_;
  std::function<void()> onFinished_;
  std::string received_;
  std::size_t answered_ = 0;
  bool finished_ = false;
};

class InstanceServer {
 public:
  InstanceServer() {
    retryTimer_.setSingleShot(true);
    QObject::connect(&retryTimer_, &QTimer::timeout, &retryTimer_,
                     [this] { incoming_->setEnabled(true); });
    reapTimer_.setSingleShot(true);
    QObject::connect(&reapTimer_, &QTimer::timeout, &reapTimer_, [this] { reap(); });
  }
  InstanceServer(const InstanceServer&) = delete;
  InstanceServer& operator=(const InstanceServer&) = delete;

  ~InstanceServer() {
    // Each connection's notifiers go before its socket, the listener's before the listener.
    connections_.clear();
    incoming_.reset();
    listener_.reset();
    // Only the file bound here: one that replaced it since is somebody else's.
    struct stat info {};
    if (!path_.empty() && ::lstat(path_.c_str(), &info) == 0 && info.st_dev == device_ &&
        info.st_ino == inode_) {
      ::unlink(path_.c_str());
    }
  }

  bool listen(const std::string& path) {
    const sockaddr_un address = socketAddress(path);
    UniqueFd listener = streamSocket();
    if (!listener) return false;
    // We hold the single-instance guard, so a socket already there that nobody answers on is a
    // crashed instance's. One that answers is left alone.
    bool bound = ::bind(listener.get(), asSockaddr(address), sizeof address) == 0;
    if (!bound && errno == EADDRINUSE && staleSocket(address) &&
        (::unlink(path.c_str()) == 0 || errno == ENOENT)) {
      bound = ::bind(listener.get(), asSockaddr(address), sizeof address) == 0;
    }
    if (!bound) return false;
    struct stat info {};
    // The directory is 0700 already; the socket's own mode says the same.
    if (::lstat(path.c_str(), &info) != 0 || ::chmod(path.c_str(), 0600) != 0 ||
        ::listen(listener.get(), kMaxConnections) != 0) {
      ::unlink(path.c_str());
      return false;
    }
    path_ = path;
    device_ = info.st_dev;
    inode_ = info.st_ino;
    listener_ = std::move(listener);
    incoming_ = std::make_unique<QSocketNotifier>(listener_.get(), QSocketNotifier::Read);
    QObject::connect(incoming_.get(), &QSocketNotifier::activated, incoming_.get(), [this] {
      // As after running out of descriptors: no exception crosses Qt's loop, and no retry at once.
      if (!noThrow(false, [this] {
            acceptPending();
            return true;
          })) {
        pauseAccepting();
      }
    });
    return true;
  }

 private:
  void acceptPending() {
    while (openConnections_ < kMaxConnections) {
      UniqueFd client(::accept4(listener_.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
      if (!client) {
        // A client that gave up while waiting in the backlog leaves no trace for the others.
        if (errno == EINTR || errno == ECONNABORTED || errno == EPROTO) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return;
        // Out of descriptors or memory: the connection stays pending, and the notifier would
        // report it again at once, round after round. A pause instead.
        return pauseAccepting();
      }
      if (!peerIsThisUser(client.get())) continue;
      connections_.push_back(
          std::make_unique<ChannelConnection>(std::move(client), [this] { connectionFinished(); }));
      ++openConnections_;
    }
    // Serving as many as we do at once: the rest wait in the kernel's backlog, and a client that
    // finds that full too tries again until its own deadline.
    incoming_->setEnabled(false);
  }

  void pauseAccepting() {
    incoming_->setEnabled(false);
    retryTimer_.start(kAcceptRetryMs);
  }

  void connectionFinished() {
    --openConnections_;
    if (!retryTimer_.isActive()) incoming_->setEnabled(true);
    reapTimer_.start(0);
  }

  void reap() {
    std::erase_if(connections_, [](const std::unique_ptr<ChannelConnection>& connection) {
      return connection->finished();
    });
  }

  // -- main thread only. The listener comes before its notifier, so it is closed after it.
  std::string path_;
  dev_t device_ = 0;
  ino_t inode_ = 0;
  UniqueFd listener_;
  std::unique_ptr<QSocketNotifier> incoming_;
  QTimer retryTimer_;
  QTimer reapTimer_;
  std::vector<std::unique_ptr<ChannelConnection>> connections_;
  int openConnections_ = 0;
};

struct ChannelState {
  // -- main thread only
  std::unique_ptr<InstanceServer> server;
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

}  // namespace

std::string instanceChannelPath(const std::string& programName) {
  return noThrow(std::string(), [&] { return channelPath(programName, CreateDirectory::Yes); });
}

bool startInstanceChannel(const std::string& programName) {
  if (!onMainThread()) return false;
  stopInstanceChannel();
  return noThrow(false, [&] {
    const std::string path = channelPath(programName, CreateDirectory::Yes);
    if (path.empty()) return false;
    auto server = std::make_unique<InstanceServer>();
    if (!server->listen(path)) return false;
    state().server = std::move(server);
    return true;
  });
}

void stopInstanceChannel() {
  if (!onMainThread()) return;
  ChannelState& s = state();
  if (!s.server) return;
  // Closes every connection, then the listener, and removes the socket file.
  s.server.reset();
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

}  // namespace lunadio
