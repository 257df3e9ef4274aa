// The CPU an idle player costs: one hidden window, the player's two timers (1 s and 200 ms) and a
// main loop waiting with a 5 ms timeout, as the panel's loop does. Prints % of one core, next to
// a reference measured in the same run: Qt's own dispatcher woken by a 5 ms timer with nothing
// of ours around it, which is the floor for any loop that wakes 200 times a second.
// Usage: ui_idle_cpu_bench [seconds, default 10]
#include <time.h>

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
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

// Percent of one core spent while `pass` runs again and again for `seconds`.
template <class Pass>
double corePercent(int seconds, long& passCount, Pass&& pass) {
  using Clock = std::chrono::steady_clock;
  const double cpuStart = cpuSeconds();
  const auto wallStart = Clock::now();
  const auto end = wallStart + std::chrono::seconds(seconds);
  passCount = 0;
  while (Clock::now() < end) {
    pass();
    ++passCount;
  }
  const double wall = std::chrono::duration<double>(Clock::now() - wallStart).count();
  return 100.0 * (cpuSeconds() - cpuStart) / wall;
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

  long passes = 0;
  long timerEvents = 0;
  const double ours = corePercent(seconds, passes, [&] {
    if (waitWindowEvent(5) == EventTimer) ++timerEvents;
  });
  std::printf("idle loop: %d s, %ld passes (%.0f per second), %ld timer events\n", seconds, passes,
              static_cast<double>(passes) / seconds, timerEvents);

  long referencePasses = 0;
  double reference = 0;
  {
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.start(5);
    reference = corePercent(seconds, referencePasses,
                            [] { QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents); });
  }
  std::printf("idle CPU: %.3f %% of one core (target under 1 %%)\n", ours);
  std::printf("reference, Qt woken every 5 ms and nothing else: %.3f %% (%ld passes); ratio %.2f\n",
              reference, referencePasses, reference > 0 ? ours / reference : 0.0);
  closeWindow(ObjectAll);
  endUserInterface();
  return 0;
}
