#pragma once
// Volume and balance of a media player, in hundredths of a decibel as the output takes them.
// Pure functions; any thread.

#include <cstdint>

namespace lunadio {

// Attenuation in hundredths of a decibel: 0 is full level, -10000 is silence.
using HundredthsDb = std::int32_t;

inline constexpr HundredthsDb kSilenceHundredthsDb = -10000;
inline constexpr HundredthsDb kMaxBalanceHundredthsDb = 10000;

// The value handed to the output for a volume percentage: entry[v] - 10000 of the 101-entry
// table, with the percentage clamped to 0..100 first.
HundredthsDb mediaVolumeHundredthsDb(int volumePercent);

// balance -100 (left) .. 100 (right), times 100, clamped to -10000..10000.
HundredthsDb mediaBalanceHundredthsDb(int balance);

// Linear amplitude factor of an attenuation; -10000 and below is exactly 0 (silence).
double linearGain(HundredthsDb attenuation);

// Per-channel factors of a balance: a positive balance attenuates the left channel by that many
// hundredths of a decibel, a negative one the right channel.
struct ChannelGains {
  double left = 1.0;
  double right = 1.0;
};
ChannelGains balanceGains(HundredthsDb balance);

}  // namespace lunadio
