#include "core/child_process.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <optional>

namespace lunadio {
namespace {

int forkRunning(const std::function<void()>& child) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    child();
    ::_exit(0);
  }
  return pid;
}

TEST(ChildProcess, TheExitCodeOrNothingAndAHungChildIsKilledAndReaped) {
  using namespace std::chrono_literals;
  const struct {
    const char* what;
    std::function<void()> child;
    std::optional<int> expected;
  } cases[] = {
      {"exits with 0", [] { ::_exit(0); }, 0},
      {"exits with 3", [] { ::_exit(3); }, 3},
      {"dies of a signal", [] { ::raise(SIGKILL); }, std::nullopt},
      {"never ends", [] { ::pause(); }, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const int pid = forkRunning(c.child);
    ASSERT_GT(pid, 0);
    EXPECT_EQ(awaitChildExit(pid, 300ms), c.expected);
    // Reaped either way: the pid is no child of ours any more.
    EXPECT_EQ(::waitpid(pid, nullptr, WNOHANG), -1);
  }
  EXPECT_EQ(awaitChildExit(-1, 10ms), std::nullopt);
}

}  // namespace
}  // namespace lunadio
