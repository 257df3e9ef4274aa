#pragma once
// The two kinds of buffer the engine makes on the sound device: static sound buffers for loaded
// sounds, stream buffers for streamed ones. Main thread only.

#include "audio/internal/access.h"
//
#include <cstdint>
#include <memory>

#include "platform/soundout/sound_output.h"

namespace lunadio {

// The device, or null before a successful initSound (and after endSound).
soundout::SoundDevice* soundDevice();

// A static sound buffer (flags 0x180E2) of `bytes` bytes in `format`. With `memory` the buffer
// plays from it without a copy (it must hold at least `bytes`); share one decode between two sounds
// by passing the same memory twice. Null when there is no device or the service refuses (a format
// it cannot play, say).
std::unique_ptr<soundout::SoundBuffer> createStaticBuffer(
    const soundout::WaveFormat& format, std::uint32_t bytes,
    std::shared_ptr<soundout::SampleMemory> memory = nullptr);

// A stream buffer: 16-bit PCM of `channels` x `rateHz`, `bytes` long (65536 for streamed sounds),
// flags 0x180E2. Null when there is no device or the service refuses.
std::unique_ptr<soundout::SoundBuffer> createStreamBuffer(int channels, int rateHz,
                                                          std::uint32_t bytes);

}  // namespace lunadio
