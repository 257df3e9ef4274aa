#pragma once
// A stereo float resampler (libsamplerate, SINC_FASTEST) for one voice (internal). Made and
// destroyed outside the mixer's render; process() and reset() neither allocate nor block.
//
// Why this converter: SINC_FASTEST keeps a -1 dBFS 1 kHz tone under -90 dB THD+N from 44.1 kHz to
// 48 kHz, runs far faster than real time, and its ratio may change on every call: it moves from the
// last ratio to the new one across the call's output, so the player's pitch fades do not click.

#include <cstddef>
#include <memory>

namespace lunadio::soundout {

enum class ResamplerQuality { Fastest, Medium };

class Resampler {
 public:
  // Null when libsamplerate cannot make its state.
  static std::unique_ptr<Resampler> create(ResamplerQuality quality = ResamplerQuality::Fastest);
  ~Resampler();
  Resampler(const Resampler&) = delete;
  Resampler& operator=(const Resampler&) = delete;

  struct Step {
    std::size_t inputUsed = 0;
    std::size_t outputMade = 0;
  };
  // Ratio = output rate / input rate (kept inside [1/256, 256]).
  Step process(const float* input, std::size_t inputFrames, float* output, std::size_t outputFrames,
               double ratio, bool endOfInput) noexcept;
  void reset() noexcept;

  static double clampRatio(double ratio);

 private:
  explicit Resampler(void* state) : state_(state) {}
  void* state_;  // SRC_STATE
};

}  // namespace lunadio::soundout
