// CPU of one core while a five-minute MP3 plays to a real-time fake output, against
// `gst-launch-1.0 playbin` playing the same file to the same output, measured in one run.
//   build/bench/media/media_cpu_bench [seconds]     (default 30)
// The engine is measured twice: polled once a second (the engine's own cost, comparable with the
// reference), and polled every 5 ms as the player's main loop does (that loop's own wake-ups
// included). CPU time is
// the sum over every thread of the process (/proc/<pid>/task/*/schedstat), taken after one second
// of warm-up so that start-up costs of either side stay out. The time is split into three rounds
// that take turns (engine, engine polled, reference), so that a neighbour's load on a shared
// machine weighs on all three alike.

#include <signal.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "core/strings.h"
#include "media/media.h"
#include "tests/media/support/media_fixtures.h"

extern char** environ;

namespace {

constexpr const char* kSink = "fakesink sync=true";
using Clock = std::chrono::steady_clock;

// Nanoseconds of CPU that the threads of `pid` have run so far.
long long processCpuNs(pid_t pid) {
  long long total = 0;
  std::error_code error;
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
    std::ifstream stat(task.path() / "schedstat");
    long long ns = 0;
    if (stat >> ns) total += ns;
  }
  return total;
}

struct Sample {
  long long cpuNs;
  Clock::time_point wall;
};
Sample sample(pid_t pid) { return {processCpuNs(pid), Clock::now()}; }

// CPU and wall time summed over rounds.
struct Tally {
  double cpuNs = 0;
  double wallNs = 0;
  double statusNs = 0;  // inside mediaStatus alone (engine only)

  void add(const Sample& from, const Sample& to) {
    cpuNs += static_cast<double>(to.cpuNs - from.cpuNs);
    wallNs += std::chrono::duration<double, std::nano>(to.wall - from.wall).count();
  }
  double percent() const { return wallNs > 0 ? 100.0 * cpuNs / wallNs : 0.0; }
  double statusPercent() const { return wallNs > 0 ? 100.0 * statusNs / wallNs : 0.0; }
};

// CPU time of the calling thread, in nanoseconds.
long long threadCpuNs() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<long long>(now.tv_sec) * 1'000'000'000LL + now.tv_nsec;
}

void measureEngine(const std::string& track, std::chrono::milliseconds length,
                   std::chrono::milliseconds interval, Tally& tally) {
  setenv("LUNADIO_MEDIA_SINK", kSink, 1);
  if (!lunadio::initMedia() || !lunadio::loadMedia(0, lunadio::fromUtf8(track)) ||
      !lunadio::playMedia(0, 1)) {
    std::fprintf(stderr, "the engine could not play %s\n", track.c_str());
    std::exit(1);
  }
  long long statusNs = 0;
  const auto poll = [interval, &statusNs](Clock::duration length) {
    const auto end = Clock::now() + length;
    while (Clock::now() < end) {
      const long long before = threadCpuNs();
      const lunadio::MediaTime position = lunadio::mediaStatus(0);
      statusNs += threadCpuNs() - before;
      if (position == 0) lunadio::playMedia(0, 1);  // as the player's loop does
      std::this_thread::sleep_for(interval);
    }
  };
  poll(std::chrono::seconds(1));
  statusNs = 0;
  const Sample from = sample(getpid());
  poll(length);
  const Sample to = sample(getpid());
  lunadio::endMedia();
  tally.add(from, to);
  tally.statusNs += static_cast<double>(statusNs);
}

void measureReference(const std::string& track, std::chrono::milliseconds length, Tally& tally) {
  const std::string uri = "uri=file://" + track;
  const std::string sink = std::string("audio-sink=") + kSink;
  const char* argv[] = {"gst-launch-1.0", "-q", "playbin", uri.c_str(), sink.c_str(), nullptr};
  pid_t child = 0;
  if (posix_spawnp(&child, "gst-launch-1.0", nullptr, nullptr, const_cast<char**>(argv), environ) !=
      0) {
    std::fprintf(stderr, "cannot start gst-launch-1.0\n");
    std::exit(1);
  }
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const Sample from = sample(child);
  std::this_thread::sleep_for(length);
  const Sample to = sample(child);
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  tally.add(from, to);
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 30;
  const std::string track = std::string(LUNADIO_BENCH_DATA) + "/five-minutes.mp3";
  lunadio::testing::makeMp3(track, {{300.0, 440.0}});

  constexpr int kRounds = 3;
  const std::chrono::milliseconds round(seconds * 1000 / kRounds);
  Tally engine;
  Tally polled;
  Tally reference;
  for (int i = 0; i < kRounds; ++i) {
    measureEngine(track, round, std::chrono::milliseconds(1000), engine);
    measureEngine(track, round, std::chrono::milliseconds(5), polled);
    measureReference(track, round, reference);
  }
  std::printf("five-minute MP3 to \"%s\" for %d s\n", kSink, seconds);
  std::printf("  lunadio media engine, polled every second: %.3f %% of one core\n",
              engine.percent());
  std::printf(
      "  lunadio media engine, polled every 5 ms:   %.3f %% of one core"
      " (inside mediaStatus: %.3f %%, the rest is the loop's own wake-ups)\n",
      polled.percent(), polled.statusPercent());
  std::printf("  gst-launch-1.0 playbin (reference):        %.3f %% of one core\n",
              reference.percent());
  if (reference.percent() > 0) {
    std::printf("  ratio engine / reference: %.2f (polled every 5 ms: %.2f)\n",
                engine.percent() / reference.percent(), polled.percent() / reference.percent());
  }
  return 0;
}
