// The running-instance channel without Qt: where its socket lives, and the client a second start
// uses (desktop/instance_channel.h, desktop/instance_socket.h).

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "core/no_throw.h"
#include "core/strings.h"
#include "desktop/instance_channel.h"
#include "desktop/instance_socket.h"
#include "desktop/instance_wire.h"

namespace lunadio {
namespace desktop {
namespace {

std::string baseName(const std::string& path) {
  const auto slash = path.find_last_of('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  return name.empty() ? std::string("lunadio") : name;
}

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

constexpr std::string_view kSocketName = "/instance";

// A socket address holds the path with its NUL; the kernel would bind a longer one cut short,
// where no client looks for it.
bool fitsSocketAddress(const std::string& dir) {
  return dir.size() + kSocketName.size() < sizeof(sockaddr_un::sun_path);
}

}  // namespace

std::string channelPath(const std::string& programName, CreateDirectory create) {
  const std::string name = baseName(programName);
  const char* runtimeDir = std::getenv("XDG_RUNTIME_DIR");
  std::string dir;
  if (ownedDirectory(runtimeDir)) dir = std::string(runtimeDir) + "/" + name;
  // Checked before anything is made, so that a path too long leaves no directory behind.
  if (!dir.empty() && !fitsSocketAddress(dir)) return {};
  if (dir.empty() || !privateDirectory(dir, create)) {
    dir = "/tmp/" + name + "-" + std::to_string(::geteuid());
    if (!fitsSocketAddress(dir) || !privateDirectory(dir, create)) return {};
  }
  return dir + std::string(kSocketName);
}

sockaddr_un socketAddress(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  path.copy(address.sun_path, sizeof address.sun_path - 1);
  return address;
}

const sockaddr* asSockaddr(const sockaddr_un& address) {
  return reinterpret_cast<const sockaddr*>(&address);
}

UniqueFd streamSocket() {
  return UniqueFd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
}

}  // namespace desktop

namespace {

using desktop::asSockaddr;
using desktop::channelPath;
using desktop::CreateDirectory;
using desktop::socketAddress;
using desktop::streamSocket;
using Clock = std::chrono::steady_clock;

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

// The client touches nothing shared: any thread, and every wait ends at `deadline`.
ForwardResult forward(const std::string& programName, const InstanceRequest& request,
                      int timeoutMs) {
  const Clock::time_point deadline =
      Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
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

  const UniqueFd socket = streamSocket();
  if (!socket) return ForwardResult::NoInstance;
  const sockaddr_un address = socketAddress(path);
  // A local connect never half-succeeds: it is made, refused, or the backlog is full (EAGAIN),
  // in which case it is tried again until the deadline.
  for (;;) {
    if (::connect(socket.get(), asSockaddr(address), sizeof address) == 0) break;
    if (errno == EINTR) continue;
    if (errno == EISCONN) break;  // made by the call that EINTR interrupted
    if (errno != EAGAIN) return ForwardResult::NoInstance;
    const int left = msLeft(deadline);
    if (left == 0) return ForwardResult::Busy;
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min(left, 2)));
  }

  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t count =
        ::send(socket.get(), bytes.data() + written, bytes.size() - written, MSG_NOSIGNAL);
    if (count > 0) {
      written += static_cast<std::size_t>(count);
    } else if (count < 0 && errno == EINTR) {
      continue;
    } else if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
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
    } else if (count < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) {
      continue;  // poll() may report a socket that then has nothing to read
    } else {
      break;
    }
  }
  return std::string_view(answer, got) == desktop::kInstanceAnswer ? ForwardResult::Acknowledged
                                                                   : ForwardResult::Unanswered;
}

}  // namespace

ForwardResult forwardToRunningInstance(const std::string& programName,
                                       const InstanceRequest& request, int timeoutMs) {
  return noThrow(ForwardResult::NoInstance,
                 [&] { return forward(programName, request, timeoutMs); });
}

}  // namespace lunadio
