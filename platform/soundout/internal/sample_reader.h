#pragma once
// Turns a buffer's frames, in any playable format, into interleaved stereo float: mono at equal
// level on both sides, stereo as it is, more channels mixed down by speaker position. 16-bit and
// 24-bit samples convert exactly (s / 2^15, s / 2^23), so an unchanged signal stays bit-exact.
// Pure functions; the mixer calls them on its own thread.

#include "platform/soundout/internal/access.h"
//
#include <array>
#include <cstddef>
#include <cstdint>

#include "platform/soundout/wave_format.h"

namespace lunadio::soundout {

struct ChannelMatrix {
  std::array<float, kMaxChannels> left{};
  std::array<float, kMaxChannels> right{};
};

// Speaker position of each channel from the extensible channel mask, or from the usual layout for
// the channel count (3: L R C, 4: L R BL BR, 5: L R C BL BR, 6: 5.1, 7: 6.1, 8: 7.1). Front sides
// go to their side at full level, the centre and the side/back pairs at -3 dB, the back centre at
// -6 dB to both; the low-frequency channel is left out.
ChannelMatrix downmixMatrix(const WaveFormat& format);

struct SampleLayout {
  SampleKind kind = SampleKind::Signed16;
  std::uint16_t channels = 0;
  std::uint16_t blockAlign = 0;
  ChannelMatrix matrix;
};

// Converts `frames` frames from `source` to `frames` stereo pairs at `stereo`. Float samples that
// are NaN read as silence; others are kept within +-64 (infinities included).
void convertToStereo(const SampleLayout& layout, const std::uint8_t* source, std::size_t frames,
                     float* stereo);

}  // namespace lunadio::soundout
