#include "core/volume_curve.h"

#include <algorithm>
#include <cmath>

namespace lunadio {

const std::array<std::int32_t, 101>& volumeCurveTable() {
  // Built once, on first use; a function-local static is initialised thread-safely.
  static const std::array<std::int32_t, 101> table = [] {
    std::array<std::int32_t, 101> entries{};
    entries[0] = 0;
    for (int v = 1; v <= 99; ++v) {
      const double level = std::log10(1000.0 * v) * 20.0 * 100.0;
      entries[static_cast<std::size_t>(v)] = static_cast<std::int32_t>(std::trunc(level));
    }
    entries[100] = 10000;
    return entries;
  }();
  return table;
}

HundredthsDb volumePercentToHundredthsDb(int volumePercent) {
  const int clamped = std::clamp(volumePercent, 0, 100);
  return volumeCurveTable()[static_cast<std::size_t>(clamped)] - 10000;
}

double hundredthsDbToGain(HundredthsDb attenuation) {
  if (attenuation <= kSilenceHundredthsDb) return 0.0;
  if (attenuation >= 0) return 1.0;
  return std::pow(10.0, attenuation / 2000.0);
}

ChannelGains balanceGains(HundredthsDb balance) {
  const HundredthsDb clamped =
      std::clamp(balance, -kMaxBalanceHundredthsDb, kMaxBalanceHundredthsDb);
  ChannelGains gains;
  if (clamped > 0) gains.left = hundredthsDbToGain(-clamped);
  if (clamped < 0) gains.right = hundredthsDbToGain(clamped);
  return gains;
}

}  // namespace lunadio
