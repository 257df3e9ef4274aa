#include "audio/decoders/pcm16_convert.h"

#include <bit>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace lunadio {
namespace {

static_assert(std::endian::native == std::endian::little,
              "the PCM is written as the host's own 16-bit integers");

// The scalar rule that the vector paths match: clamping before rounding gives the same sample as
// rounding before clamping, and keeps lrintf inside the range it can represent.
std::int16_t toPcm16(float sample) {
  const float scaled = sample * 32768.0f;
  if (!(scaled >= -32768.0f)) return -32768;  // NaN included
  if (scaled >= 32767.0f) return 32767;
  return static_cast<std::int16_t>(std::lrintf(scaled));
}

#if defined(__SSE2__)
// Four samples to four 32-bit integers under the scalar rule (the default rounding mode of the
// SSE unit is to nearest, ties to even, as lrintf's is). max before min sends NaN to the bottom.
__m128i toInt32x4(const float* samples) {
  const __m128 scaled = _mm_mul_ps(_mm_loadu_ps(samples), _mm_set1_ps(32768.0f));
  const __m128 clamped =
      _mm_min_ps(_mm_max_ps(scaled, _mm_set1_ps(-32768.0f)), _mm_set1_ps(32767.0f));
  return _mm_cvtps_epi32(clamped);
}
#endif

// Frames [from, to) one sample at a time.
void convertScalar(const float* const* planes, std::size_t channels, std::size_t from,
                   std::size_t to, std::uint8_t* destination) {
  for (std::size_t frame = from; frame < to; ++frame) {
    for (std::size_t c = 0; c < channels; ++c) {
      const std::int16_t sample = toPcm16(planes[c][frame]);
      std::memcpy(destination + (frame * channels + c) * 2, &sample, 2);
    }
  }
}

#if defined(__SSE2__)
void store(std::uint8_t* at, __m128i value, bool streaming) {
  if (streaming) {
    _mm_stream_si128(reinterpret_cast<__m128i*>(at), value);
  } else {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(at), value);
  }
}
#endif

}  // namespace

void interleaveFloatToPcm16(const float* const* planes, int channelCount, std::size_t frames,
                            std::uint8_t* destination, PcmStores stores) {
  const auto channels = static_cast<std::size_t>(channelCount);
  std::size_t frame = 0;
#if defined(__SSE2__)
  if (channels == 1 || channels == 2) {
    const std::size_t frameBytes = channels * 2;
    // Streaming stores need 16-byte alignment: the first few frames go one by one until the
    // destination is there (a destination off the frame grid never gets there).
    bool streaming = stores == PcmStores::Bulk;
    if (streaming) {
      const auto misaligned = reinterpret_cast<std::uintptr_t>(destination) % 16;
      const std::size_t lead = misaligned == 0 ? 0 : (16 - misaligned) / frameBytes;
      if (misaligned % frameBytes != 0 || lead > frames) {
        streaming = false;
      } else {
        convertScalar(planes, channels, 0, lead, destination);
        frame = lead;
      }
    }
    if (channels == 2) {
      const float* left = planes[0];
      const float* right = planes[1];
      for (; frame + 8 <= frames; frame += 8) {
        const __m128i l = _mm_packs_epi32(toInt32x4(left + frame), toInt32x4(left + frame + 4));
        const __m128i r = _mm_packs_epi32(toInt32x4(right + frame), toInt32x4(right + frame + 4));
        store(destination + frame * 4, _mm_unpacklo_epi16(l, r), streaming);
        store(destination + frame * 4 + 16, _mm_unpackhi_epi16(l, r), streaming);
      }
    } else {
      for (; frame + 8 <= frames; frame += 8) {
        store(destination + frame * 2,
              _mm_packs_epi32(toInt32x4(planes[0] + frame), toInt32x4(planes[0] + frame + 4)),
              streaming);
      }
    }
    // Streaming stores are weakly ordered: fenced here, before the caller publishes the PCM.
    if (streaming) _mm_sfence();
  }
#endif
  convertScalar(planes, channels, frame, frames, destination);
}

}  // namespace lunadio
