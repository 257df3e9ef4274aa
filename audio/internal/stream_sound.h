#pragma once
// Streamed sounds: the decoder stays open and a refill thread feeds a 65,536-byte looping ring,
// half by half, while the output plays the other half. Memory per sound is the ring plus the
// decoder, whatever the length of the source.
//
// Threads and the order that keeps them apart:
// - The caller's thread (the main thread) runs every control. Before it touches the decoder
//   (rewind in playSound, close in freeSound) it sets the record's state first, then waits for the
//   refill thread to end (a join, not a poll), and only then uses the decoder.
// - The refill thread owns the decoder and the ring's lock/unlock while it runs. It reads the
//   record's state on every 10 ms pass, writes streamThreadAlive (1 at its start, 0 at its end)
//   and, once, the state when a source without looping has ended.

#include "audio/internal/access.h"
//
#include <cstdint>
#include <memory>

#include "audio/decoders/sound_decoder.h"
#include "core/object_table.h"

namespace lunadio {

inline constexpr std::uint32_t kStreamRingBytes = 65536;
inline constexpr std::uint32_t kStreamHalfBytes = kStreamRingBytes / 2;

// Puts a streamed sound on `decoder` under `number` (an old sound there is freed at once). 0 when
// the ring cannot be made (the number then names no sound and the decoder is closed); otherwise
// the dynamic identifier for ObjectAny, else non-zero.
ObjectNumber loadStreamedSound(ObjectNumber number, std::unique_ptr<DecoderHandle> decoder);

}  // namespace lunadio
