// How long the panel's fades take and what they cost, on the real player: the window fading in
// and out, the sound fading out and back in, the strip's shrink and grow. Each is timed on the
// wall clock and on the process's CPU clock (every thread: the mixer and Qt's included), and
// printed next to the least its steps and waits allow.
// Usage: player_fade_figures TRACK [repetitions, default 3]   (a display and a sound device)
#include <time.h>

#include <QCursor>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "app/fades.h"
#include "app/library_lifecycles.h"
#include "app/player_state.h"
#include "app/startup.h"
#include "core/lifecycle.h"
#include "core/strings.h"
#include "ui/windows.h"

namespace lunadio {
namespace {

using Clock = std::chrono::steady_clock;

double cpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

struct Mark {
  Clock::time_point wall;
  double cpu;
  static Mark now() { return {Clock::now(), cpuSeconds()}; }
};

struct Figure {
  std::string name;
  double leastMs;
  std::vector<double> wallMs;
  std::vector<double> cpuPercent;
  void add(const Mark& from, const Mark& to) {
    const double wall = std::chrono::duration<double, std::milli>(to.wall - from.wall).count();
    wallMs.push_back(wall);
    cpuPercent.push_back(wall > 0 ? (to.cpu - from.cpu) * 1000 / wall * 100 : 0);
  }
};

double median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

void pointerAt(int x, int y) {
  QCursor::setPos(windowX(PanelWindow) + x, windowY(PanelWindow) + y);
}

}  // namespace
}  // namespace lunadio

int main(int argc, char** argv) {
  using namespace lunadio;
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s TRACK [repetitions]\n", argv[0]);
    return 2;
  }
  const int repetitions = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
  registerLibraryLifecycles();
  if (!runStartSequence(StartStage::Tray)) return 1;
  if (startPlayer(fromUtf8(argv[1])) != StartResult::Running) return 1;
  if (!trackLoaded()) {
    std::fprintf(stderr, "the track did not open\n");
    return 1;
  }
  removeWindowTimer(PanelWindow, CompactTimer);

  Figure windowIn{"window fade in", 255 * 2.0, {}, {}};
  Figure windowOut{"window fade out", 255 * 2.0, {}, {}};
  Figure soundOut{"sound fade out", 51 * 10.0, {}, {}};
  Figure soundIn{"sound fade in", 35 * 10.0, {}, {}};
  Figure shrink{"shrink 155 -> 60", 95 * 10.0, {}, {}};
  Figure grow{"grow 60 -> 155", 32 * 2.0, {}, {}};

  PlayerState& st = playerState();
  for (int r = 0; r < repetitions; ++r) {
    pointerAt(150, 100);
    Mark a = Mark::now();
    fadeWindow(PanelWindow);  // hidden: in
    Mark b = Mark::now();
    windowIn.add(a, b);
    fadeInAndResume();
    Mark c = Mark::now();
    soundIn.add(b, c);

    // The strip: the pointer leaves, stays away for a few passes of the compact loop, returns.
    Mark shrinkEnd{};
    Mark growStart{};
    int passes = 0;
    setFadeStepObserver([&](FadeStep step, int) {
      if (step != FadeStep::CompactPass) return;
      if (++passes == 1) shrinkEnd = Mark::now();
      if (passes == 3) {
        pointerAt(150, 30);
        growStart = Mark::now();
      }
    });
    pointerAt(-60, -60);
    const Mark shrinkStart = Mark::now();
    enterCompactMode(PanelWindow);
    const Mark growEnd = Mark::now();
    setFadeStepObserver({});
    shrink.add(shrinkStart, shrinkEnd);
    grow.add(growStart, growEnd);

    pointerAt(150, 100);
    a = Mark::now();
    fadeWindow(PanelWindow);  // shown: out
    b = Mark::now();
    windowOut.add(a, b);
    fadeOutAndPause();
    c = Mark::now();
    soundOut.add(b, c);
    st.windowMode = ModeHidden;
  }

  std::printf("%-18s %10s %10s %10s %10s\n", "fade", "least ms", "median ms", "max ms", "cpu %");
  for (const Figure* f : {&windowIn, &windowOut, &soundOut, &soundIn, &shrink, &grow}) {
    std::printf("%-18s %10.0f %10.1f %10.1f %10.1f\n", f->name.c_str(), f->leastMs,
                median(f->wallMs), *std::max_element(f->wallMs.begin(), f->wallMs.end()),
                median(f->cpuPercent));
  }
  shutdownLibraries();
  return 0;
}
