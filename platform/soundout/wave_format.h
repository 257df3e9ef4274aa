#pragma once
// Sample formats of the output service: the wave format block a buffer is created with, read from
// a RIFF "fmt " chunk body or built for 16-bit PCM, and the test that says whether the service can
// play it. Plain values; any thread.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace lunadio::soundout {

inline constexpr std::uint16_t kFormatPcm = 1;
inline constexpr std::uint16_t kFormatFloat = 3;
inline constexpr std::uint16_t kFormatExtensible = 0xFFFE;

inline constexpr std::uint32_t kMinRateHz = 100;
inline constexpr std::uint32_t kMaxRateHz = 384000;
inline constexpr std::uint16_t kMaxChannels = 8;

// The 18-byte wave format block, plus the fields of the extensible form.
struct WaveFormat {
  std::uint16_t formatTag = 0;
  std::uint16_t channels = 0;
  std::uint32_t samplesPerSec = 0;
  std::uint32_t avgBytesPerSec = 0;
  std::uint16_t blockAlign = 0;
  std::uint16_t bitsPerSample = 0;
  std::uint16_t extraBytes = 0;  // cbSize
  // Extensible form only (formatTag == kFormatExtensible and extraBytes >= 22).
  std::uint16_t validBitsPerSample = 0;
  std::uint32_t channelMask = 0;
  // The sample kind named by the sub-format identifier: kFormatPcm or kFormatFloat when the
  // identifier is one of the two standard ones, 0 otherwise.
  std::uint16_t subFormat = 0;

  friend bool operator==(const WaveFormat&, const WaveFormat&) = default;
};

// How a buffer's samples are stored, once a format has been accepted.
enum class SampleKind { Unsigned8, Signed16, Signed24, Signed32, Float32 };

// Reads a "fmt " chunk body (at least 16 bytes). An extensible body shorter than 40 bytes reads
// with no sub-format, which the service then refuses. Nothing is checked beyond the size.
std::optional<WaveFormat> parseWaveFormat(std::span<const std::uint8_t> body);

// 16-bit signed interleaved PCM: tag 1, blockAlign = channels x 2, avgBytesPerSec = rate x
// blockAlign, cbSize 0.
WaveFormat pcm16Format(std::uint16_t channels, std::uint32_t rateHz);

// The sample kind when the service plays this format: PCM 8-bit unsigned, 16/24/32-bit signed,
// 32-bit float; 1 to 8 channels; 100 Hz to 384 kHz; blockAlign = channels x bytes per sample;
// plain or extensible. Anything else: nullopt.
std::optional<SampleKind> playableKind(const WaveFormat& format);

}  // namespace lunadio::soundout
