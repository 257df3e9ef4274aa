#pragma once
// A private session bus for one test suite: dbus-daemon started with its own configuration and
// ended with the suite, so the tests never touch the desktop's bus.

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace lunadio::testing {

class PrivateBus {
 public:
  PrivateBus() {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      // The daemon goes with the test even when the test is killed.
      ::prctl(PR_SET_PDEATHSIG, SIGTERM);
      ::dup2(pipeFds[1], 1);
      const int quiet = ::open("/dev/null", O_WRONLY);
      ::dup2(quiet, 2);
      ::close(pipeFds[0]);
      ::execlp("dbus-daemon", "dbus-daemon", "--session", "--nofork", "--nopidfile",
               "--print-address=1", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(pipeFds[1]);
    char buffer[512];
    std::size_t got = 0;
    while (got < sizeof buffer - 1) {
      const ssize_t count = ::read(pipeFds[0], buffer + got, sizeof buffer - 1 - got);
      if (count <= 0) break;
      got += static_cast<std::size_t>(count);
      if (buffer[got - 1] == '\n') break;
    }
    ::close(pipeFds[0]);
    address_.assign(buffer, got);
    while (!address_.empty() && (address_.back() == '\n' || address_.back() == '\r')) {
      address_.pop_back();
    }
  }
  ~PrivateBus() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  PrivateBus(const PrivateBus&) = delete;
  PrivateBus& operator=(const PrivateBus&) = delete;

  // Empty when the daemon could not be started.
  const std::string& address() const { return address_; }

 private:
  pid_t pid_ = -1;
  std::string address_;
};

}  // namespace lunadio::testing
