// Start latency of a sound, end to end: from playSound to the first non-silent block the mixer
// hands to the output backend, over 20 starts, with the backend's buffer size and the time
// initSound takes to open the output. Target: under 50 ms with SDL's defaults. Uses the default
// output (SDL); headless: SDL_AUDIODRIVER=dummy or disk. Run: SDL_AUDIODRIVER=dummy
// build/bench/audio/audio_sound_latency
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>
#include <vector>

#include "audio/internal/sound_buffers.h"
#include "audio/internal/sound_record.h"
#include "audio/sound.h"
#include "audio/sound_device.h"

using namespace lunadio;

int main() {
  const auto initStart = std::chrono::steady_clock::now();
  if (initSound() == 0) {
    std::printf("initSound failed: no sound device\n");
    return 2;
  }
  const double initMs =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - initStart)
          .count();
  std::printf("initSound (opens the output): %.1f ms\n", initMs);
  soundout::SoundDevice& device = *soundDevice();
  const std::uint32_t rateHz = device.outputRateHz();
  std::printf("output %u Hz, backend buffer %u frames (%.1f ms)\n", rateHz, device.blockFrames(),
              1000.0 * device.blockFrames() / rateHz);

  // A track-like sound: 2 s of 44.1 kHz stereo, as the player loads them.
  std::vector<std::int16_t> pcm(2 * 88200);
  for (std::size_t f = 0; f < 88200; ++f) {
    pcm[2 * f] = pcm[2 * f + 1] =
        static_cast<std::int16_t>(std::lround(12000.0 * std::cos(2.0 * M_PI * 440.0 * f / 44100)));
  }
  const auto bytes = static_cast<std::uint32_t>(pcm.size() * 2);
  if (!installStaticSound(0, createStaticBuffer(soundout::pcm16Format(2, 44100), bytes,
                                                soundout::SampleMemory::adopt(std::move(pcm))))) {
    std::printf("the sound could not be made\n");
    return 2;
  }

  std::vector<double> latenciesMs;
  for (int start = 0; start < 20; ++start) {
    const std::int64_t begin = device.markPlayStart();
    playSound(0, PlayLooped);
    std::int64_t heard = 0;
    for (int wait = 0; wait < 10000 && (heard = device.stats().firstAudibleNs) == 0; ++wait) {
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    pauseSound(0);  // the device pauses until the next start
    if (heard != 0) latenciesMs.push_back((heard - begin) / 1e6);
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
  }
  endSound();
  std::sort(latenciesMs.begin(), latenciesMs.end());
  if (latenciesMs.size() != 20) {
    std::printf("only %zu of 20 starts were heard\n", latenciesMs.size());
    return 1;
  }
  std::printf(
      "playSound -> first sound handed to the backend: median %.1f ms, worst %.1f ms "
      "(target < 50 ms)\n",
      latenciesMs[10], latenciesMs.back());
  return latenciesMs.back() < 50.0 ? 0 : 1;
}
