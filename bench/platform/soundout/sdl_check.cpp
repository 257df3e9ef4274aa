// Checks the output service on the real SDL device and prints its figures:
//   - the SDL driver, the output rate and the backend's buffer (block) size;
//   - start latency: from play() to the first non-silent block handed to SDL (median and worst of
//     20 starts from a paused device; target < 50 ms);
//   - process CPU time per second of wall time while nothing plays (device paused) and while one
//     44.1 kHz voice plays through the resampler;
//   - with SDL_AUDIODRIVER=disk: that the samples SDL wrote to its file are the buffer's own,
//     bit for bit (the tone plays at the output's rate).
// Run: SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=/tmp/lunadio-sdl.raw
// build/bench/platform/soundout/soundout_sdl_check
//      (or with a sound server: build/bench/platform/soundout/soundout_sdl_check)
#include <SDL.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/soundout/sound_output.h"

using namespace lunadio::soundout;

namespace {

std::int64_t nowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

double processCpuMs() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec * 1e3 + usage.ru_utime.tv_usec / 1e3 + usage.ru_stime.tv_sec * 1e3 +
         usage.ru_stime.tv_usec / 1e3;
}

// CPU milliseconds the process spends per second of wall time over `seconds`.
double cpuMsPerSecond(int seconds) {
  const double before = processCpuMs();
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  return (processCpuMs() - before) / seconds;
}

}  // namespace

int main() {
  std::unique_ptr<SoundDevice> device;
  if (createDefaultSoundDevice(device) != kOk) {
    std::printf("no sound device could be opened (SDL: %s)\n", SDL_GetError());
    return 2;
  }
  const char* driver = SDL_GetCurrentAudioDriver();
  const std::string driverName = driver ? driver : "?";
  const std::uint32_t rateHz = device->outputRateHz();
  std::printf("SDL driver %s, output %u Hz, backend buffer %u frames (%.1f ms)\n",
              driverName.c_str(), rateHz, device->blockFrames(),
              1000.0 * device->blockFrames() / rateHz);

  // A cosine tone at the output's rate, so it passes through unchanged and starts non-silent.
  const std::size_t frames = rateHz / 2;
  std::vector<std::int16_t> tone(2 * frames);
  for (std::size_t f = 0; f < frames; ++f) {
    tone[2 * f] = tone[2 * f + 1] =
        static_cast<std::int16_t>(std::lround(20000.0 * std::cos(2.0 * M_PI * 750.0 * f / rateHz)));
  }
  std::unique_ptr<SoundBuffer> buffer;
  if (createPcm16Buffer(*device, 2, rateHz, SampleMemory::adopt(tone), buffer) != kOk) {
    std::printf("the device refused a buffer\n");
    return 2;
  }

  std::vector<double> latenciesMs;
  for (int start = 0; start < 20; ++start) {
    buffer->setCurrentPosition(0);
    const std::int64_t begin = device->markPlayStart();
    buffer->play(PlayMode::Looping);
    std::int64_t heard = 0;
    while ((heard = device->stats().firstAudibleNs) == 0 && nowNs() - begin < 2'000'000'000) {
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    buffer->stop();
    if (heard != 0) latenciesMs.push_back((heard - begin) / 1e6);
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
  }
  std::sort(latenciesMs.begin(), latenciesMs.end());
  bool ok = latenciesMs.size() == 20;
  if (!latenciesMs.empty()) {
    std::printf(
        "start latency (play -> first sound handed to SDL): median %.1f ms, worst %.1f ms "
        "over %zu starts (target < 50 ms)\n",
        latenciesMs[latenciesMs.size() / 2], latenciesMs.back(), latenciesMs.size());
    ok = ok && latenciesMs.back() < 50.0;
  }
  std::printf("mixer blocks %llu, underruns %llu\n",
              static_cast<unsigned long long>(device->stats().blocks),
              static_cast<unsigned long long>(device->stats().underruns));

  {
    std::vector<std::int16_t> voice(2 * 44100, 1000);
    std::unique_ptr<SoundBuffer> resampled;
    createPcm16Buffer(*device, 2, 44100, SampleMemory::adopt(voice), resampled);
    const double paused = cpuMsPerSecond(2);
    std::this_thread::sleep_for(std::chrono::seconds(2));  // the device closes after 3 s idle
    const double closed = cpuMsPerSecond(2);
    const std::int64_t begin = device->markPlayStart();
    resampled->play(PlayMode::Looping);
    while (device->stats().firstAudibleNs == 0 && nowNs() - begin < 2'000'000'000) {
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    const double reopenMs = (device->stats().firstAudibleNs - begin) / 1e6;
    std::printf("start latency from a closed device (reopened): %.1f ms\n", reopenMs);
    ok = ok && reopenMs > 0.0 && reopenMs < 50.0;
    const double playing = cpuMsPerSecond(2);
    resampled->stop();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // its fade-out has played
    std::printf(
        "process CPU: %.2f ms/s in the first 2 s with nothing playing (device paused), "
        "%.2f ms/s after that (device closed), %.2f ms/s with one resampled voice\n",
        paused, closed, playing);
  }

  if (driverName == "disk") {
    // One clean play from the start, then read back what SDL wrote.
    buffer->setCurrentPosition(0);
    buffer->play(PlayMode::Once);
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    buffer.reset();
    device.reset();
    const char* path = std::getenv("SDL_DISKAUDIOFILE");
    std::ifstream file(path ? path : "sdlaudio.raw", std::ios::binary);
    std::vector<char> raw((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::vector<float> written(raw.size() / sizeof(float));
    std::memcpy(written.data(), raw.data(), written.size() * sizeof(float));
    // The last play is the last stretch of sound in the file: find where it starts.
    std::size_t end = written.size();
    while (end > 0 && written[end - 1] == 0.0f) --end;
    const std::size_t expected = tone.size();
    bool exact = end >= expected;
    std::size_t differing = 0;
    if (exact) {
      const std::size_t begin = end - expected;
      for (std::size_t i = 0; i < expected; ++i) {
        if (written[begin + i] != tone[i] / 32768.0f) ++differing;
      }
      exact = differing == 0;
    }
    std::printf("disk driver file: %zu samples; the last play %s (%zu of %zu samples differ)\n",
                written.size(), exact ? "is bit-exact" : "DIFFERS", differing, expected);
    ok = ok && exact;
  }
  std::printf("%s\n", ok ? "all checks passed" : "CHECK FAILED");
  return ok ? 0 : 1;
}
