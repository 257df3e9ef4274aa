// Clients of the running-instance channel that misbehave, for the end-to-end test:
//   channel_client stall SOCKET SECONDS   connects and sends nothing
//   channel_client big SOCKET MEGABYTES   sends a path of that size
//   channel_client flood SOCKET COUNT [TRACK]   sends COUNT requests as fast as it can: show
//                                              requests, every other one a request to open TRACK
// Exits 0 once done, whatever the server did.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

int connectTo(const char* path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::string(path).copy(address.sun_path, sizeof address.sun_path - 1);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  timeval limit{2, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  return fd;
}

bool sendAll(int fd, const std::string& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t count = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (count <= 0) return false;
    sent += static_cast<std::size_t>(count);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 && argc != 5) {
    std::fprintf(stderr, "usage: %s stall|big|flood SOCKET N [TRACK]\n", argv[0]);
    return 2;
  }
  const std::string mode = argv[1];
  const char* path = argv[2];
  const long n = std::strtol(argv[3], nullptr, 10);
  if (mode == "stall") {
    const int fd = connectTo(path);
    ::sleep(static_cast<unsigned>(n));
    if (fd >= 0) ::close(fd);
  } else if (mode == "big") {
    const int fd = connectTo(path);
    if (fd < 0) return 0;
    const bool all =
        sendAll(fd, "lunadio1 open /" + std::string(static_cast<std::size_t>(n) << 20, 'a'));
    std::printf("%s\n", all ? "sent whole" : "cut off by the server");
    ::close(fd);
  } else if (mode == "flood") {
    long answered = 0;
    for (long i = 0; i < n; ++i) {
      const int fd = connectTo(path);
      if (fd < 0) continue;
      const std::string request = argc == 5 && i % 2 == 1
                                      ? "lunadio1 open " + std::string(argv[4]) + '\0'
                                      : std::string("lunadio1 show") + '\0';
      char answer[4];
      if (sendAll(fd, request) && ::recv(fd, answer, sizeof answer, 0) > 0) ++answered;
      ::close(fd);
    }
    std::printf("%ld of %ld answered\n", answered, n);
  }
  return 0;
}
