// Prints the output service's fidelity figures and exits non-zero when one misses its target:
//   - THD+N of a -1 dBFS 1 kHz 16-bit tone at 44.1 kHz played on a 48 kHz output (target < -90 dB),
//     with the source's own 16-bit floor and the medium-quality converter for comparison;
//   - a 48 kHz tone on a 48 kHz output: bit-exact;
//   - the player's pitch fade (44100 Hz down to 882 Hz in steps of 2% every 10 ms, and the full
//   fade
//     with its volume steps): the largest sample-to-sample jump against what the tone itself allows
//     at that moment (target <= 1: no click).
// Run: build/bench/platform/soundout/soundout_fidelity
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

#include "bench/platform/soundout/signal_analysis.h"
#include "core/volume_curve.h"
#include "platform/soundout/memory_output.h"
#include "platform/soundout/resampler.h"
#include "platform/soundout/sound_output.h"

namespace lunadio::soundout::bench {
namespace {

const double kAmplitude = std::pow(10.0, -1.0 / 20.0);  // -1 dBFS

struct Rig {
  explicit Rig(std::uint32_t outputHz, std::uint32_t blockFrames = 1024) {
    MemoryOutputOptions options;
    options.rateHz = outputHz;
    options.blockFrames = blockFrames;
    output = std::make_shared<MemoryOutput>(options);
    createSoundDevice(output, device);
  }
  std::unique_ptr<SoundBuffer> load(const std::vector<std::int16_t>& samples,
                                    std::uint32_t rateHz) {
    std::unique_ptr<SoundBuffer> buffer;
    createPcm16Buffer(*device, 2, rateHz, SampleMemory::adopt(samples), buffer);
    return buffer;
  }
  std::shared_ptr<MemoryOutput> output;
  std::unique_ptr<SoundDevice> device;
};

double sourceFloorDb() {
  const auto source = tone16(88200, 1000.0, 44100.0, kAmplitude);
  std::vector<double> left;
  for (std::size_t f = 0; f < source.size() / 2; ++f) left.push_back(source[2 * f] / 32768.0);
  return thdPlusNoiseDb(left, 1000.0, 44100.0);
}

double mixerThdDb() {
  Rig rig(48000);
  auto buffer = rig.load(tone16(88200, 1000.0, 44100.0, kAmplitude), 44100);  // 2000 whole periods
  buffer->play(PlayMode::Looping);
  rig.output->render(24000);
  return thdPlusNoiseDb(leftChannel(rig.output->render(96000)), 1000.0, 48000.0);
}

double converterThdDb(ResamplerQuality quality) {
  const auto source = tone16(88200, 1000.0, 44100.0, kAmplitude);
  std::vector<float> input(source.size());
  for (std::size_t i = 0; i < source.size(); ++i) input[i] = source[i] / 32768.0f;
  std::vector<float> output(2 * 100000);
  auto resampler = Resampler::create(quality);
  const auto step = resampler->process(input.data(), input.size() / 2, output.data(), 100000,
                                       48000.0 / 44100.0, true);
  // Leave out the converter's start and its end of input, where the signal itself starts and stops.
  output.resize(2 * (step.outputMade - 2000));
  return thdPlusNoiseDb(leftChannel(output, 2000), 1000.0, 48000.0);
}

std::size_t passThroughMismatches(std::size_t& compared) {
  Rig rig(48000);
  const auto source = tone16(96000, 1000.0, 48000.0, kAmplitude);
  auto buffer = rig.load(source, 48000);
  buffer->play(PlayMode::Once);
  const std::vector<float> mixed = rig.output->render(96000);
  std::size_t mismatches = 0;
  for (std::size_t i = 0; i < source.size(); ++i) {
    if (mixed[i] != source[i] / 32768.0f) ++mismatches;
  }
  compared = source.size();
  return mismatches;
}

// The player's fade: every 10 ms, frequency = nearest(44100 x i / 100) (0 restores the rate) and,
// when `withVolume`, volume i % through the attenuation table. Returns the worst jump between
// neighbouring samples divided by the largest jump the tone can make at that moment (its level and
// pitch on either side of the step), plus one 16-bit step of slack for the source's rounding.
double fadeWorstRatio(std::uint32_t outputHz, bool withVolume) {
  Rig rig(outputHz, 512);
  auto buffer = rig.load(tone16(88200, 1000.0, 44100.0, kAmplitude), 44100);
  buffer->play(PlayMode::Looping);
  std::vector<float> previous = rig.output->render(outputHz / 10);
  double worst = 0.0;
  double previousGain = 1.0;
  double previousHz = 44100.0;
  const int last = withVolume ? 0 : 2;
  for (int i = 100; i >= last; i -= 2) {
    const auto hz = static_cast<std::uint32_t>(std::nearbyint(44100.0 * i / 100.0));
    double gain = 1.0;
    if (withVolume) {
      const HundredthsDb attenuation = volumePercentToHundredthsDb(i);
      buffer->setVolume(attenuation);
      gain = hundredthsDbToGain(attenuation);
    }
    buffer->setFrequency(hz);
    const double effectiveHz = hz == 0 ? 44100.0 : hz;
    const std::vector<float> block = rig.output->render(outputHz / 100);
    const double toneHz = 1000.0 * std::max(previousHz, effectiveHz) / 44100.0;
    const double allowed =
        2.0 * kAmplitude * std::max(previousGain, gain) * std::sin(M_PI * toneHz / outputHz) +
        1.0 / 32768.0;
    float last = previous[previous.size() - 2];
    for (std::size_t f = 0; f < block.size() / 2; ++f) {
      worst = std::max(worst, std::fabs(block[2 * f] - last) / allowed);
      last = block[2 * f];
    }
    previous = block;
    previousGain = gain;
    previousHz = effectiveHz;
  }
  return worst;
}

}  // namespace
}  // namespace lunadio::soundout::bench

int main() {
  using namespace lunadio::soundout;
  using namespace lunadio::soundout::bench;
  bool ok = true;

  const double floorDb = sourceFloorDb();
  const double mixerDb = mixerThdDb();
  const double mediumDb = converterThdDb(ResamplerQuality::Medium);
  const double fastestDb = converterThdDb(ResamplerQuality::Fastest);
  std::printf("THD+N, 1 kHz at -1 dBFS, 16-bit 44.1 kHz source:\n");
  std::printf("  the source itself (16-bit floor)           %7.1f dB\n", floorDb);
  std::printf("  mixer on a 48 kHz output (SINC_FASTEST)    %7.1f dB   target < -90 dB\n", mixerDb);
  std::printf("  converter alone, SINC_FASTEST              %7.1f dB\n", fastestDb);
  std::printf("  converter alone, SINC_MEDIUM_QUALITY       %7.1f dB\n", mediumDb);
  ok = ok && mixerDb < -90.0;

  std::size_t compared = 0;
  const std::size_t mismatches = passThroughMismatches(compared);
  std::printf("48 kHz on a 48 kHz output: %zu of %zu samples differ (%s)\n", mismatches, compared,
              mismatches == 0 ? "bit-exact" : "NOT bit-exact");
  ok = ok && mismatches == 0;

  std::printf("Pitch fade, worst jump / what the tone allows (<= 1: no click):\n");
  for (std::uint32_t outputHz : {48000u, 44100u}) {
    const double pitchOnly = fadeWorstRatio(outputHz, false);
    const double withVolume = fadeWorstRatio(outputHz, true);
    std::printf(
        "  %u Hz output: 44100 -> 882 Hz in 2%% steps %.4f; player fade (volume too) %.4f\n",
        outputHz, pitchOnly, withVolume);
    ok = ok && pitchOnly <= 1.0 && withVolume <= 1.0;
  }
  std::printf("%s\n", ok ? "all targets met" : "TARGET MISSED");
  return ok ? 0 : 1;
}
