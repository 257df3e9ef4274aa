#pragma once
// The one sound device of the process: the output service opened on the hidden multimedia window
// and the volume-to-attenuation table every volume change uses. The buffers the engine makes on it
// are in audio/internal/sound_buffers.h.
//
// Main thread only (initSound, endSound and buffer creation). Buffers themselves may then be used
// from a stream's refill thread as well (see platform/soundout/sound_output.h).

#include <array>
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/soundout/sound_output.h"

namespace lunadio {

// Non-zero when the device is ready, 0 on failure (no message). A second call after a success
// returns the same value and does nothing else. A failure after the device was made leaves the
// engine unusable for the rest of the run: every later call fails.
std::intptr_t initSound();
// Frees every sound (streams ended first) and closes the output service.
void endSound();
// Begins reaching the sound output at once, on a thread of its own, so that it overlaps the rest
// of the program's start; initSound then finds it done (or waits for it). endSound ends it when
// initSound never ran. Main thread only.
void prepareSound();

// Volume 0..100 -> the attenuation in hundredths of a dB that a buffer gets as entry - 10000.
// entry[v] = trunc(log10(1000 v) x 2000) for 1..99, entry[0] = 0, entry[100] = 10000. Built by
// initSound (also by a call that then fails); all zero before.
const std::array<std::int32_t, 101>& attenuationTable();

// Adds the end routine that frees all sounds and closes the service (EndStage::Sound).
void registerSoundLifecycle();

// -- Test seams --------------------------------------------------------------------------------
// How initSound opens the output service (default: createDefaultSoundDevice, i.e. SDL).
using SoundServiceOpener = std::function<soundout::Result(std::unique_ptr<soundout::SoundDevice>&)>;
void setSoundServiceOpener(SoundServiceOpener opener);
// Forgets the device, the sound table and the attenuation table, as at program start (every sound
// is freed first). Tests only: the program itself never restarts the device.
void resetSoundDeviceForTests();

}  // namespace lunadio
