#pragma once
// A media player's balance as setMediaVolume takes it, in the hundredths of a decibel of the one
// volume curve (core/volume_curve.h). Pure function; any thread.

#include "core/volume_curve.h"

namespace lunadio {

// balance -100 (left) .. 100 (right), times 100, clamped to -10000..10000.
HundredthsDb mediaBalanceHundredthsDb(int balance);

}  // namespace lunadio
