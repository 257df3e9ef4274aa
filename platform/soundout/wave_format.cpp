#include "platform/soundout/wave_format.h"

#include <array>
#include <cstring>

namespace lunadio::soundout {
namespace {

std::uint16_t read16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
std::uint32_t read32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// The 14 bytes that follow the two-byte kind in the standard PCM and float sub-format identifiers.
constexpr std::array<std::uint8_t, 14> kSubFormatTail = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                                         0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

}  // namespace

std::optional<WaveFormat> parseWaveFormat(std::span<const std::uint8_t> body) {
  if (body.size() < 16) return std::nullopt;
  const std::uint8_t* p = body.data();
  WaveFormat format;
  format.formatTag = read16(p);
  format.channels = read16(p + 2);
  format.samplesPerSec = read32(p + 4);
  format.avgBytesPerSec = read32(p + 8);
  format.blockAlign = read16(p + 12);
  format.bitsPerSample = read16(p + 14);
  if (body.size() >= 18) format.extraBytes = read16(p + 16);
  if (format.formatTag == kFormatExtensible && format.extraBytes >= 22 && body.size() >= 40) {
    format.validBitsPerSample = read16(p + 18);
    format.channelMask = read32(p + 20);
    const std::uint16_t kind = read16(p + 24);
    if ((kind == kFormatPcm || kind == kFormatFloat) &&
        std::memcmp(p + 26, kSubFormatTail.data(), kSubFormatTail.size()) == 0) {
      format.subFormat = kind;
    }
  }
  return format;
}

WaveFormat pcm16Format(std::uint16_t channels, std::uint32_t rateHz) {
  WaveFormat format;
  format.formatTag = kFormatPcm;
  format.channels = channels;
  format.samplesPerSec = rateHz;
  format.blockAlign = static_cast<std::uint16_t>(channels * 2);
  format.avgBytesPerSec = rateHz * format.blockAlign;
  format.bitsPerSample = 16;
  return format;
}

std::optional<SampleKind> playableKind(const WaveFormat& format) {
  if (format.channels < 1 || format.channels > kMaxChannels) return std::nullopt;
  if (format.samplesPerSec < kMinRateHz || format.samplesPerSec > kMaxRateHz) return std::nullopt;
  if (format.bitsPerSample % 8 != 0 ||
      format.blockAlign != format.channels * (format.bitsPerSample / 8)) {
    return std::nullopt;
  }
  std::uint16_t kind = format.formatTag;
  if (kind == kFormatExtensible) {
    kind = format.subFormat;
    if (format.validBitsPerSample > format.bitsPerSample) return std::nullopt;
  }
  if (kind == kFormatFloat) {
    if (format.bitsPerSample == 32) return SampleKind::Float32;
    return std::nullopt;
  }
  if (kind != kFormatPcm) return std::nullopt;
  switch (format.bitsPerSample) {
    case 8:
      return SampleKind::Unsigned8;
    case 16:
      return SampleKind::Signed16;
    case 24:
      return SampleKind::Signed24;
    case 32:
      return SampleKind::Signed32;
    default:
      return std::nullopt;
  }
}

}  // namespace lunadio::soundout
