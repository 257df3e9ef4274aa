// The CPU an idle player costs: one hidden window, the player's two timers (1 s and 200 ms) and a
// main loop waiting with a 5 ms timeout, as the panel's loop does. Prints % of one core.
// Usage: ui_idle_cpu_bench [seconds, default 10]
#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "ui/events.h"
#include "ui/ui_runtime.h"
#include "ui/windows.h"

namespace {

double cpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace lunadio;
  const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
  if (!startUserInterface()) {
    std::fprintf(stderr, "no display\n");
    return 1;
  }
  openWindow(0, 0, 0, 300, 155, u"Lunadio", WindowBorderless | WindowInvisible);
  addWindowTimer(0, 1, 1000);
  addWindowTimer(0, 18, 200);
  while (windowEvent() != 0) {
  }

  using Clock = std::chrono::steady_clock;
  const double cpuStart = cpuSeconds();
  const auto wallStart = Clock::now();
  const auto end = wallStart + std::chrono::seconds(seconds);
  long passes = 0;
  long timerEvents = 0;
  while (Clock::now() < end) {
    if (waitWindowEvent(5) == EventTimer) ++timerEvents;
    ++passes;
  }
  const double cpu = cpuSeconds() - cpuStart;
  const double wall = std::chrono::duration<double>(Clock::now() - wallStart).count();
  std::printf("idle loop: %.1f s, %ld passes (%.0f per second), %ld timer events\n", wall, passes,
              passes / wall, timerEvents);
  std::printf("idle CPU: %.3f %% of one core (target under 1 %%)\n", 100.0 * cpu / wall);
  closeWindow(ObjectAll);
  endUserInterface();
  return 0;
}
