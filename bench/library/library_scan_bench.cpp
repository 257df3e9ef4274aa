// Drives the real library window over a directory tree: the folder is chosen, the scan runs with
// its thread, and the figures are taken when every row is in the list. Prints the time from the
// chosen folder to that moment, the main thread's longest stall in between (the largest gap
// between ticks of a 1 ms timer), and the heap the rows take (what "Jouer" frees when it clears
// them).
// Usage: library_scan_bench <tree>   (QT_QPA_PLATFORM=offscreen on a headless machine)
#include <malloc.h>
#include <time.h>

#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/library_window.h"
#include "app/library_window_testing.h"
#include "app/player_state.h"
#include "core/strings.h"
#include "ui/events.h"
#include "ui/gadgets.h"
#include "ui/requesters.h"
#include "ui/ui_runtime.h"

namespace {

using Clock = std::chrono::steady_clock;

double msBetween(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

std::size_t heapBytes() { return mallinfo2().uordblks; }

double threadCpuMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace lunadio;
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s <tree>\n", argv[0]);
    return 2;
  }
  std::string tree = std::filesystem::absolute(argv[1]).string();
  if (tree.back() != '/') tree += '/';
  // The default filter (Wave and Ogg Vorbis): no settings file in the directory we run in.
  const auto scratch = std::filesystem::temp_directory_path() / "lunadio-scan-bench";
  std::filesystem::create_directories(scratch);
  std::filesystem::remove(scratch / "preferences.con");
  std::filesystem::current_path(scratch);
  if (!startUserInterface()) {
    std::fprintf(stderr, "no display\n");
    return 1;
  }

  Clock::time_point chosen, finished, lastTick;
  double longestStallMs = 0;
  // The main thread's own work between two ticks: what a stall is once the scheduler's delays on
  // a loaded machine are taken out.
  double lastTickCpuMs = 0, longestBusyMs = 0, cpuAtChosenMs = 0, mainCpuMs = 0;
  bool measuring = false;
  int rows = 0;
  std::size_t heapWithRows = 0;
  QTimer ticker;
  ticker.setTimerType(Qt::PreciseTimer);
  ticker.setInterval(1);
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    const auto now = Clock::now();
    const double cpu = threadCpuMs();
    if (measuring) {
      longestStallMs = std::max(longestStallMs, msBetween(lastTick, now));
      longestBusyMs = std::max(longestBusyMs, cpu - lastTickCpuMs);
    }
    lastTick = now;
    lastTickCpuMs = cpu;
  });
  ticker.start();

  RequesterAnswer folder = RequesterAnswer::choosePaths({fromUtf8(tree)});
  folder.whileShown = [&] {
    chosen = lastTick = Clock::now();
    cpuAtChosenMs = lastTickCpuMs = threadCpuMs();
    measuring = true;
  };
  answerNextRequester(std::move(folder));
  postEvent(EventGadget, 0, 0, 0, 0);  // "Parcourir"
  setLibraryScanObserver([&](LibraryScanStep step) {
    if (step == LibraryScanStep::Finished) {
      finished = Clock::now();
      mainCpuMs = threadCpuMs() - cpuAtChosenMs;
      measuring = false;
      rows = countGadgetItems(3);
      heapWithRows = heapBytes();
    }
    if (step == LibraryScanStep::Idle) {
      setGadgetState(3, 0);
      postEvent(EventGadget, 0, 4, 0, 0);  // "Jouer" clears the rows and closes the window
    }
  });
  const bool played = openLibraryWindow().outcome == LibraryOutcome::Play;
  const std::size_t heapWithout = heapBytes();
  ticker.stop();
  setLibraryScanObserver({});
  if (!played || rows == 0) {
    std::fprintf(stderr, "the scan listed nothing (%d rows)\n", rows);
    return 1;
  }
  const double rowsMb =
      heapWithRows > heapWithout ? static_cast<double>(heapWithRows - heapWithout) / 1e6 : 0.0;
  std::printf(
      "scan_ms %.1f\nrows %d\nlongest_stall_ms %.1f\nlongest_busy_ms %.1f\nmain_cpu_ms %.1f\n"
      "rows_mb %.1f\n",
      msBetween(chosen, finished), rows, longestStallMs, longestBusyMs, mainCpuMs, rowsMb);
  endUserInterface();
  return 0;
}
