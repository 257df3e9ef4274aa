#include "core/child_process.h"

#include <sys/types.h>
#include <sys/wait.h>

#include <cerrno>
#include <csignal>
#include <thread>

namespace lunadio {

std::optional<int> awaitChildExit(int pid, std::chrono::milliseconds limit) {
  if (pid <= 0) return std::nullopt;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  int status = 0;
  for (;;) {
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) return std::nullopt;
    if (std::chrono::steady_clock::now() >= deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      return std::nullopt;
    }
    // The answer is a few milliseconds away at most: a polled wait keeps clear of SIGCHLD, which
    // Qt and GStreamer each want for themselves.
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (!WIFEXITED(status)) return std::nullopt;
  return WEXITSTATUS(status);
}

}  // namespace lunadio
