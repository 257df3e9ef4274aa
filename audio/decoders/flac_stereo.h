#pragma once
// How the FLAC plug-in writes a block of any layout and depth: 16-bit stereo, interleaved. Each
// sample is brought to 16 bits by its most significant bits; mono goes to both sides; three to
// eight channels are mixed down (the low-frequency channel left out) with weights normalised so
// that full-scale channels in phase never clip.

#include <cstdint>

namespace lunadio {

// Frames [first, first + count) of a block (one sample array per channel, `bitsPerSample` deep)
// at `out`, 4 bytes per frame. Allocates nothing: the library's write callback calls it.
void flacFramesToStereo16(const std::int32_t* const channels[], unsigned channelCount,
                          unsigned bitsPerSample, unsigned first, unsigned count,
                          std::uint8_t* out);

}  // namespace lunadio
