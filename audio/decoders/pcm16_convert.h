#pragma once
// Float samples of a decoder's planar output to interleaved 16-bit PCM. The result is exactly
// what libvorbisfile's own 16-bit read gives (each sample times 32768, rounded to nearest, ties
// to even, then clamped to -32768..32767; NaN gives -32768), at a fraction of its cost: the
// common layouts go four and eight samples at a time.

#include <cstddef>
#include <cstdint>

namespace lunadio {

// How the PCM reaches memory. Bulk: past the caches, for a decode into a block that nothing reads
// soon (a whole sound's memory); each write then costs no read of the line it fills. Cached: for
// what is read again at once (a ring, a small request).
enum class PcmStores { Cached, Bulk };

// Writes `frames` frames of `channelCount` channels, each frame's samples in channel order, as
// little-endian 16-bit samples to `destination` (any alignment). `planes[c]` holds channel c.
// Bulk writes are complete, for every thread, when the call returns.
void interleaveFloatToPcm16(const float* const* planes, int channelCount, std::size_t frames,
                            std::uint8_t* destination, PcmStores stores = PcmStores::Cached);

}  // namespace lunadio
