// The player's double load of an MP3: a trial into player 1, the real load into player 0, then
// player 1 freed. Target: under 150 ms in all for a five-minute track.
//   build/bench/media/media_load_bench

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <benchmark/benchmark.h>

#include "core/strings.h"
#include "media/media.h"
#include "tests/media/support/media_fixtures.h"

namespace {

const std::string& fiveMinuteTrack() {
  static const std::string path = [] {
    const std::string mp3 = std::string(LUNADIO_BENCH_DATA) + "/five-minutes.mp3";
    lunadio::testing::makeMp3(mp3, {{300.0, 440.0}});
    return mp3;
  }();
  return path;
}

void doubleLoad(benchmark::State& state, const char* sinkDescription) {
  if (sinkDescription) {
    setenv("LUNADIO_MEDIA_SINK", sinkDescription, 1);
  } else {
    unsetenv("LUNADIO_MEDIA_SINK");
  }
  if (!lunadio::initMedia()) {
    state.SkipWithError("initMedia failed");
    return;
  }
  const std::u16string path = lunadio::fromUtf8(fiveMinuteTrack());
  for (auto _ : state) {
    const bool trial = lunadio::loadMedia(1, path) != 0;
    const bool real = trial && lunadio::loadMedia(0, path) != 0;
    lunadio::freeMedia(1);
    if (!real) {
      state.SkipWithError("the track did not load");
      break;
    }
    state.PauseTiming();
    lunadio::freeMedia(0);
    state.ResumeTiming();
  }
  state.counters["silent_output"] = lunadio::mediaOutputIsSilent();
  lunadio::endMedia();
}

}  // namespace

BENCHMARK_CAPTURE(doubleLoad, fake_realtime_sink, "fakesink sync=true")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(doubleLoad, automatic_output, nullptr)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The first initMedia of a process (GStreamer's start and registry load) happens once per run of
// the player, so it is timed once here rather than in a loop.
int main(int argc, char** argv) {
  const auto started = std::chrono::steady_clock::now();
  const int ready = lunadio::initMedia();
  const auto took = std::chrono::steady_clock::now() - started;
  std::printf("first initMedia: %s in %.1f ms\n", ready ? "ready" : "FAILED",
              std::chrono::duration<double, std::milli>(took).count());
  lunadio::endMedia();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
