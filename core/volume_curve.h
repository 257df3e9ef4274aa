#pragma once
// The one volume curve of the program: a volume percentage becomes an attenuation in hundredths
// of a decibel through a 101-entry table, an attenuation becomes a linear gain, and a balance (or
// pan) in hundredths of a decibel becomes the gains of the left and right channels. Sounds, the
// output service's mixer and media players all go through it, so that a volume sounds the same
// whichever engine plays the track.
// Pure functions; any thread, the audio thread included (no allocation, no lock).

#include <array>
#include <cstdint>

namespace lunadio {

// Attenuation in hundredths of a decibel: 0 is full level, -10000 is silence.
using HundredthsDb = std::int32_t;

inline constexpr HundredthsDb kSilenceHundredthsDb = -10000;
inline constexpr HundredthsDb kMaxBalanceHundredthsDb = 10000;

// entry[v] = trunc(log10(1000 v) x 2000) for 1..99, entry[0] = 0, entry[100] = 10000: the level
// of volume v above silence.
const std::array<std::int32_t, 101>& volumeCurveTable();

// entry[v] - 10000 for the volume clamped to 0..100: 0 -> -10000 (silence), 50 -> -603,
// 100 -> 0.
HundredthsDb volumePercentToHundredthsDb(int volumePercent);

// Linear amplitude factor of an attenuation; -10000 and below is exactly 0 (silence), 0 and
// above exactly 1.
double hundredthsDbToGain(HundredthsDb attenuation);

// Per-channel factors of a balance or pan (clamped to -10000..10000): a positive value attenuates
// the left channel by that many hundredths of a decibel, a negative one the right channel.
struct ChannelGains {
  double left = 1.0;
  double right = 1.0;
};
ChannelGains balanceGains(HundredthsDb balance);

}  // namespace lunadio
