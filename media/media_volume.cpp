#include "media/media_volume.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace lunadio {
namespace {

// entry[k] = truncate(log10(1000 k) x 20 x 100) for 1..99, entry[0] = 0, entry[100] = 10000.
// Built once, on first use; a function-local static is initialised thread-safely.
const std::array<std::int32_t, 101>& volumeTable() {
  static const std::array<std::int32_t, 101> table = [] {
    std::array<std::int32_t, 101> entries{};
    entries[0] = 0;
    for (int k = 1; k <= 99; ++k) {
      const double level = std::log10(1000.0 * k) * 20.0 * 100.0;
      entries[static_cast<std::size_t>(k)] = static_cast<std::int32_t>(std::trunc(level));
    }
    entries[100] = 10000;
    return entries;
  }();
  return table;
}

}  // namespace

HundredthsDb mediaVolumeHundredthsDb(int volumePercent) {
  const int clamped = std::clamp(volumePercent, 0, 100);
  return volumeTable()[static_cast<std::size_t>(clamped)] - 10000;
}

HundredthsDb mediaBalanceHundredthsDb(int balance) {
  // Widen before multiplying: a balance near INT32_MAX must clamp, not overflow.
  const std::int64_t scaled = static_cast<std::int64_t>(balance) * 100;
  return static_cast<HundredthsDb>(
      std::clamp<std::int64_t>(scaled, -kMaxBalanceHundredthsDb, kMaxBalanceHundredthsDb));
}

double linearGain(HundredthsDb attenuation) {
  if (attenuation <= kSilenceHundredthsDb) return 0.0;
  if (attenuation >= 0) return 1.0;
  return std::pow(10.0, attenuation / 2000.0);
}

ChannelGains balanceGains(HundredthsDb balance) {
  const HundredthsDb clamped =
      std::clamp(balance, -kMaxBalanceHundredthsDb, kMaxBalanceHundredthsDb);
  ChannelGains gains;
  if (clamped > 0) gains.left = linearGain(-clamped);
  if (clamped < 0) gains.right = linearGain(clamped);
  return gains;
}

}  // namespace lunadio
