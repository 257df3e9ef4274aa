#include "media/media_volume.h"

#include <algorithm>

namespace lunadio {

HundredthsDb mediaBalanceHundredthsDb(int balance) {
  // Widen before multiplying: a balance near INT32_MAX must clamp, not overflow.
  const std::int64_t scaled = static_cast<std::int64_t>(balance) * 100;
  return static_cast<HundredthsDb>(
      std::clamp<std::int64_t>(scaled, -kMaxBalanceHundredthsDb, kMaxBalanceHundredthsDb));
}

}  // namespace lunadio
