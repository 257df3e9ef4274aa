// Mixer cost in x real time (counter x_realtime: seconds of audio mixed per second of CPU).
// Targets: one pass-through voice over 500x, one resampled voice over 50x, on one core.
// Run: build/bench/platform/soundout/soundout_mixer_bench
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "platform/soundout/memory_output.h"
#include "platform/soundout/resampler.h"
#include "platform/soundout/sound_output.h"

namespace lunadio::soundout {
namespace {

constexpr std::uint32_t kOutputHz = 48000;
constexpr std::size_t kBlockFrames = 1024;

struct Voices {
  explicit Voices(int count, std::uint32_t sourceHz, std::uint16_t channels = 2) {
    MemoryOutputOptions options;
    options.rateHz = kOutputHz;
    options.blockFrames = kBlockFrames;
    output = std::make_shared<MemoryOutput>(options);
    createSoundDevice(output, device);
    std::vector<std::int16_t> samples(static_cast<std::size_t>(sourceHz) * 5 * channels);
    for (std::size_t i = 0; i < samples.size(); ++i) {
      samples[i] = static_cast<std::int16_t>((i * 2654435761u) >> 20);
    }
    auto memory = SampleMemory::adopt(std::move(samples));
    for (int v = 0; v < count; ++v) {
      std::unique_ptr<SoundBuffer> buffer;
      createPcm16Buffer(*device, channels, sourceHz, memory, buffer);
      buffer->play(PlayMode::Looping);
      buffers.push_back(std::move(buffer));
    }
  }
  std::shared_ptr<MemoryOutput> output;
  std::unique_ptr<SoundDevice> device;
  std::vector<std::unique_ptr<SoundBuffer>> buffers;
};

void mixBlocks(benchmark::State& state, Voices& voices) {
  std::vector<float> block(2 * kBlockFrames);
  for (auto _ : state) {
    voices.output->renderInto(block.data(), kBlockFrames);
    benchmark::DoNotOptimize(block.data());
  }
  state.counters["x_realtime"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * kBlockFrames / kOutputHz,
                         benchmark::Counter::kIsRate);
}

void PassThroughVoice(benchmark::State& state) {
  Voices voices(1, kOutputHz);
  mixBlocks(state, voices);
}
BENCHMARK(PassThroughVoice);

void ResampledVoice44100(benchmark::State& state) {
  Voices voices(1, 44100);
  mixBlocks(state, voices);
}
BENCHMARK(ResampledVoice44100);

void PassThroughVoiceWithVolume(benchmark::State& state) {
  Voices voices(1, kOutputHz);
  voices.buffers[0]->setVolume(-603);
  mixBlocks(state, voices);
}
BENCHMARK(PassThroughVoiceWithVolume);

void SixChannelVoiceMixedDown(benchmark::State& state) {
  Voices voices(1, kOutputHz, 6);
  mixBlocks(state, voices);
}
BENCHMARK(SixChannelVoiceMixedDown);

void EightResampledVoices(benchmark::State& state) {
  Voices voices(8, 44100);
  mixBlocks(state, voices);
}
BENCHMARK(EightResampledVoices);

// The converter alone, both qualities, to choose between them.
void Converter(benchmark::State& state, ResamplerQuality quality) {
  auto resampler = Resampler::create(quality);
  std::vector<float> input(2 * 4096, 0.25f);
  std::vector<float> output(2 * kBlockFrames);
  for (std::size_t i = 0; i < input.size(); ++i)
    input[i] = static_cast<float>((i * 37) % 101) / 101.0f;
  const double ratio = 48000.0 / 44100.0;
  double made = 0.0;
  for (auto _ : state) {
    const auto step =
        resampler->process(input.data(), 941, output.data(), kBlockFrames, ratio, false);
    made += static_cast<double>(step.outputMade);
    benchmark::DoNotOptimize(output.data());
  }
  state.counters["x_realtime"] = benchmark::Counter(made / kOutputHz, benchmark::Counter::kIsRate);
}
BENCHMARK_CAPTURE(Converter, SincFastest, ResamplerQuality::Fastest);
BENCHMARK_CAPTURE(Converter, SincMedium, ResamplerQuality::Medium);

}  // namespace
}  // namespace lunadio::soundout

BENCHMARK_MAIN();
