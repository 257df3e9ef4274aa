#include "platform/soundout/internal/sample_reader.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace lunadio::soundout {
namespace {

constexpr float kMinus3Db = 0.70710678f;
constexpr float kMinus6Db = 0.5f;
constexpr float kFloatLimit = 64.0f;

// Speaker bits of the extensible channel mask.
enum Speaker : std::uint32_t {
  FrontLeft = 0x1,
  FrontRight = 0x2,
  FrontCenter = 0x4,
  LowFrequency = 0x8,
  BackLeft = 0x10,
  BackRight = 0x20,
  FrontLeftOfCenter = 0x40,
  FrontRightOfCenter = 0x80,
  BackCenter = 0x100,
  SideLeft = 0x200,
  SideRight = 0x400,
  TopCenter = 0x800,
  TopFrontLeft = 0x1000,
  TopFrontCenter = 0x2000,
  TopFrontRight = 0x4000,
  TopBackLeft = 0x8000,
  TopBackCenter = 0x10000,
  TopBackRight = 0x20000,
};

std::uint32_t usualMask(std::uint16_t channels) {
  switch (channels) {
    case 3:
      return FrontLeft | FrontRight | FrontCenter;
    case 4:
      return FrontLeft | FrontRight | BackLeft | BackRight;
    case 5:
      return FrontLeft | FrontRight | FrontCenter | BackLeft | BackRight;
    case 6:
      return FrontLeft | FrontRight | FrontCenter | LowFrequency | BackLeft | BackRight;
    case 7:
      return FrontLeft | FrontRight | FrontCenter | LowFrequency | BackCenter | SideLeft |
             SideRight;
    default:
      return FrontLeft | FrontRight | FrontCenter | LowFrequency | BackLeft | BackRight | SideLeft |
             SideRight;
  }
}

void gainsFor(std::uint32_t speaker, float& left, float& right) {
  switch (speaker) {
    case FrontLeft:
    case FrontLeftOfCenter:
      left = 1.0f;
      right = 0.0f;
      return;
    case FrontRight:
    case FrontRightOfCenter:
      left = 0.0f;
      right = 1.0f;
      return;
    case FrontCenter:
    case TopFrontCenter:
      left = right = kMinus3Db;
      return;
    case LowFrequency:
      left = right = 0.0f;
      return;
    case BackLeft:
    case SideLeft:
    case TopFrontLeft:
    case TopBackLeft:
      left = kMinus3Db;
      right = 0.0f;
      return;
    case BackRight:
    case SideRight:
    case TopFrontRight:
    case TopBackRight:
      left = 0.0f;
      right = kMinus3Db;
      return;
    default:
      left = right = kMinus6Db;
      return;  // centre positions behind or above
  }
}

inline float sampleAt(SampleKind kind, const std::uint8_t* p) {
  switch (kind) {
    case SampleKind::Unsigned8:
      return static_cast<float>(static_cast<int>(p[0]) - 128) * (1.0f / 128.0f);
    case SampleKind::Signed16: {
      std::int16_t v;
      std::memcpy(&v, p, 2);
      return static_cast<float>(v) * (1.0f / 32768.0f);
    }
    case SampleKind::Signed24: {
      const std::int32_t v = static_cast<std::int32_t>((static_cast<std::uint32_t>(p[0]) << 8) |
                                                       (static_cast<std::uint32_t>(p[1]) << 16) |
                                                       (static_cast<std::uint32_t>(p[2]) << 24)) >>
                             8;
      return static_cast<float>(v) * (1.0f / 8388608.0f);
    }
    case SampleKind::Signed32: {
      std::int32_t v;
      std::memcpy(&v, p, 4);
      return static_cast<float>(static_cast<double>(v) * (1.0 / 2147483648.0));
    }
    case SampleKind::Float32: {
      float v;
      std::memcpy(&v, p, 4);
      // Over-range float samples are legal, but a hostile file must not overflow the down-mix or
      // the resampler into infinities (and NaN): keep them within +36 dB of full scale.
      if (!(v == v)) return 0.0f;
      return std::clamp(v, -kFloatLimit, kFloatLimit);
    }
  }
  return 0.0f;
}

template <SampleKind Kind>
void convertMonoOrStereo(const std::uint8_t* source, std::size_t frames, std::uint16_t channels,
                         std::uint16_t blockAlign, float* stereo) {
  const std::size_t step = blockAlign / channels;
  for (std::size_t i = 0; i < frames; ++i) {
    const std::uint8_t* frame = source + i * blockAlign;
    const float left = sampleAt(Kind, frame);
    stereo[2 * i] = left;
    stereo[2 * i + 1] = channels == 1 ? left : sampleAt(Kind, frame + step);
  }
}

template <SampleKind Kind>
void convertMatrix(const SampleLayout& layout, const std::uint8_t* source, std::size_t frames,
                   float* stereo) {
  const std::size_t step = layout.blockAlign / layout.channels;
  for (std::size_t i = 0; i < frames; ++i) {
    const std::uint8_t* frame = source + i * layout.blockAlign;
    float left = 0.0f;
    float right = 0.0f;
    for (std::uint16_t c = 0; c < layout.channels; ++c) {
      const float s = sampleAt(Kind, frame + c * step);
      left += s * layout.matrix.left[c];
      right += s * layout.matrix.right[c];
    }
    stereo[2 * i] = left;
    stereo[2 * i + 1] = right;
  }
}

template <SampleKind Kind>
void convertAs(const SampleLayout& layout, const std::uint8_t* source, std::size_t frames,
               float* stereo) {
  if (layout.channels <= 2) {
    convertMonoOrStereo<Kind>(source, frames, layout.channels, layout.blockAlign, stereo);
  } else {
    convertMatrix<Kind>(layout, source, frames, stereo);
  }
}

}  // namespace

ChannelMatrix downmixMatrix(const WaveFormat& format) {
  ChannelMatrix matrix;
  const std::uint16_t channels = format.channels < kMaxChannels ? format.channels : kMaxChannels;
  if (channels == 1) {
    matrix.left[0] = matrix.right[0] = 1.0f;
    return matrix;
  }
  if (channels == 2) {
    matrix.left[0] = 1.0f;
    matrix.right[1] = 1.0f;
    return matrix;
  }
  std::uint32_t mask = format.formatTag == kFormatExtensible ? format.channelMask : 0;
  if (mask == 0) mask = usualMask(channels);
  // Channels take the mask's speakers in ascending bit order; channels beyond the mask are left
  // out.
  std::uint16_t channel = 0;
  for (std::uint32_t bit = 1; bit != 0 && channel < channels; bit <<= 1) {
    if (mask & bit) {
      gainsFor(bit, matrix.left[channel], matrix.right[channel]);
      ++channel;
    }
  }
  return matrix;
}

void convertToStereo(const SampleLayout& layout, const std::uint8_t* source, std::size_t frames,
                     float* stereo) {
  switch (layout.kind) {
    case SampleKind::Unsigned8:
      return convertAs<SampleKind::Unsigned8>(layout, source, frames, stereo);
    case SampleKind::Signed16:
      return convertAs<SampleKind::Signed16>(layout, source, frames, stereo);
    case SampleKind::Signed24:
      return convertAs<SampleKind::Signed24>(layout, source, frames, stereo);
    case SampleKind::Signed32:
      return convertAs<SampleKind::Signed32>(layout, source, frames, stereo);
    case SampleKind::Float32:
      return convertAs<SampleKind::Float32>(layout, source, frames, stereo);
  }
}

}  // namespace lunadio::soundout
