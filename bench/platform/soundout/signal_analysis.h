#pragma once
// Measurements on rendered signals for the fidelity program.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace lunadio::soundout::bench {

// THD+N in dB of a tone of `toneHz`: the residual after a least-squares fit of the tone (sine,
// cosine and offset) over the whole signal, against the fitted tone.
double thdPlusNoiseDb(const std::vector<double>& signal, double toneHz, double rateHz);

// The left channel of interleaved stereo, as doubles, from `fromFrame` on.
std::vector<double> leftChannel(const std::vector<float>& stereo, std::size_t fromFrame = 0);

// A 16-bit stereo tone at `amplitude` (full scale 1.0), `frames` long.
std::vector<std::int16_t> tone16(std::size_t frames, double toneHz, double rateHz, double amplitude,
                                 double phase = 0.0);

}  // namespace lunadio::soundout::bench
