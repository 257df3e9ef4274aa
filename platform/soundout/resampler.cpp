#include "platform/soundout/resampler.h"

#include <samplerate.h>

#include <algorithm>

namespace lunadio::soundout {

std::unique_ptr<Resampler> Resampler::create(ResamplerQuality quality) {
  int error = 0;
  const int converter =
      quality == ResamplerQuality::Fastest ? SRC_SINC_FASTEST : SRC_SINC_MEDIUM_QUALITY;
  SRC_STATE* state = src_new(converter, 2, &error);
  if (!state) return nullptr;
  return std::unique_ptr<Resampler>(new Resampler(state));
}

Resampler::~Resampler() { src_delete(static_cast<SRC_STATE*>(state_)); }

double Resampler::clampRatio(double ratio) { return std::clamp(ratio, 1.0 / 256.0, 256.0); }

Resampler::Step Resampler::process(const float* input, std::size_t inputFrames, float* output,
                                   std::size_t outputFrames, double ratio,
                                   bool endOfInput) noexcept {
  SRC_DATA data{};
  data.data_in = input;
  data.input_frames = static_cast<long>(inputFrames);
  data.data_out = output;
  data.output_frames = static_cast<long>(outputFrames);
  data.src_ratio = clampRatio(ratio);
  data.end_of_input = endOfInput ? 1 : 0;
  if (src_process(static_cast<SRC_STATE*>(state_), &data) != 0) return {};
  return {static_cast<std::size_t>(data.input_frames_used),
          static_cast<std::size_t>(data.output_frames_gen)};
}

void Resampler::reset() noexcept { src_reset(static_cast<SRC_STATE*>(state_)); }

}  // namespace lunadio::soundout
