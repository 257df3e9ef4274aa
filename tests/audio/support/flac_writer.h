#pragma once
// FLAC streams written bit by bit: STREAMINFO with any claims, then frames of constant or
// verbatim subframes with their CRC-8 and CRC-16. libFLAC's encoder cannot make what these tests
// need: a 65,536-frame block (it stops at 65,535) or a header that understates the blocks.

#include <cstdint>
#include <span>
#include <vector>

namespace lunadio::test {

struct WrittenFlacOptions {
  int channels = 2;
  int bitsPerSample = 16;
  int sampleRate = 44100;
  // The frames of each block in turn; the last one may be shorter than the others.
  std::vector<std::uint32_t> blockFrames;
  // What STREAMINFO says; 0 for the largest block means the largest of blockFrames capped to the
  // 16-bit field, -1 for the total means the real total.
  std::uint32_t declaredMaxBlockFrames = 0;
  std::int64_t declaredTotalFrames = -1;
};

// `samples` are interleaved at the options' depth. A channel whose samples are all alike within a
// block gets a constant subframe, any other a verbatim one.
std::vector<std::uint8_t> writeFlac(std::span<const std::int32_t> samples,
                                    const WrittenFlacOptions& options);

}  // namespace lunadio::test
