// Cost of the calls the player makes on every main-loop pass (getSoundPosition, setSoundVolume)
// and of a fade step (setSoundFrequency), on the memory output.
// Run: build/bench/audio/audio_sound_controls_bench
#include <benchmark/benchmark.h>

#include <memory>

#include "audio/internal/sound_buffers.h"
#include "audio/internal/sound_record.h"
#include "audio/sound.h"
#include "audio/sound_device.h"
#include "platform/soundout/memory_output.h"

namespace lunadio {
namespace {

struct PlayingTrack {
  PlayingTrack() {
    output = std::make_shared<soundout::MemoryOutput>();
    setSoundServiceOpener([out = output](std::unique_ptr<soundout::SoundDevice>& device) {
      return soundout::createSoundDevice(out, device);
    });
    initSound();
    std::vector<std::int16_t> pcm(2 * 441000);
    installStaticSound(0, createStaticBuffer(soundout::pcm16Format(2, 44100), 1764000,
                                             soundout::SampleMemory::adopt(std::move(pcm))));
    playSound(0, PlayLooped);
  }
  ~PlayingTrack() {
    resetSoundDeviceForTests();
    setSoundServiceOpener({});
  }
  std::shared_ptr<soundout::MemoryOutput> output;
};

void GetSoundPosition(benchmark::State& state) {
  PlayingTrack track;
  for (auto _ : state) benchmark::DoNotOptimize(getSoundPosition(0));
}
BENCHMARK(GetSoundPosition);

void SetSoundVolume(benchmark::State& state) {
  PlayingTrack track;
  int volume = 0;
  for (auto _ : state) setSoundVolume(0, (volume++) % 101);
}
BENCHMARK(SetSoundVolume);

void SetSoundFrequency(benchmark::State& state) {
  PlayingTrack track;
  int step = 0;
  for (auto _ : state) setSoundFrequency(0, 882 + (step++ % 50) * 882);
}
BENCHMARK(SetSoundFrequency);

}  // namespace
}  // namespace lunadio

BENCHMARK_MAIN();
