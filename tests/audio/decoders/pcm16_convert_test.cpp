// Float planes to 16-bit PCM: the rounding and clamping of libvorbisfile's own 16-bit read, on
// the vector paths and their scalar tails alike, and a whole stream bit for bit against it.
#include "audio/decoders/pcm16_convert.h"

#include <gtest/gtest.h>
#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "audio/decoders/sound_decoder.h"
#include "tests/audio/support/fixtures.h"

namespace lunadio {
namespace {

// Converts into a destination `offsetBytes` past a 16-byte boundary.
std::vector<std::int16_t> convert(const std::vector<std::vector<float>>& planes, PcmStores stores,
                                  std::size_t offsetBytes) {
  std::vector<const float*> pointers;
  for (const auto& plane : planes) pointers.push_back(plane.data());
  const std::size_t frames = planes[0].size();
  alignas(16) std::uint8_t buffer[1024] = {};
  const std::size_t bytes = frames * planes.size() * 2;
  interleaveFloatToPcm16(pointers.data(), static_cast<int>(planes.size()), frames,
                         buffer + offsetBytes, stores);
  std::vector<std::int16_t> out(bytes / 2);
  std::memcpy(out.data(), buffer + offsetBytes, bytes);
  return out;
}

TEST(Pcm16ConvertTest, RoundsToNearestEvenAndClampsInEveryLayout) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  struct Case {
    float sample;
    std::int16_t expected;
  };
  const Case cases[] = {
      {0.0f, 0},
      {0.5f / 32768, 0},
      {1.5f / 32768, 2},
      {2.5f / 32768, 2},
      {-0.5f / 32768, 0},
      {-1.5f / 32768, -2},
      {0.49f / 32768, 0},
      {0.51f / 32768, 1},
      {1.0f, 32767},
      {-1.0f, -32768},
      {32767.5f / 32768, 32767},
      {-1.01f, -32768},
      {3e9f, 32767},
      {-3e9f, -32768},
      {inf, 32767},
      {-inf, -32768},
      {nan, -32768},
      {0.25f, 8192},
      {-0.25f, -8192},
  };
  // 1, 2 and 3 channels; 19 frames: two vector steps of 8 and a tail of 3.
  for (int channels = 1; channels <= 3; ++channels) {
    std::vector<std::vector<float>> planes(static_cast<std::size_t>(channels));
    for (int c = 0; c < channels; ++c) {
      for (std::size_t i = 0; i < std::size(cases); ++i) {
        // Each channel sees the cases in another order, so that a swapped channel shows.
        planes[static_cast<std::size_t>(c)].push_back(
            cases[(i + static_cast<std::size_t>(c) * 5) % std::size(cases)].sample);
      }
    }
    // Every alignment of the destination, cached and streaming (which starts one by one until
    // it is aligned, and stays one by one off the frame grid).
    for (const PcmStores stores : {PcmStores::Cached, PcmStores::Bulk}) {
      for (const std::size_t offset : {0, 2, 4, 6, 8, 12}) {
        const auto out = convert(planes, stores, offset);
        for (std::size_t i = 0; i < std::size(cases); ++i) {
          for (int c = 0; c < channels; ++c) {
            const Case& expected = cases[(i + static_cast<std::size_t>(c) * 5) % std::size(cases)];
            EXPECT_EQ(out[i * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)],
                      expected.expected)
                << "sample " << expected.sample << ", channel " << c << " of " << channels
                << ", offset " << offset << (stores == PcmStores::Bulk ? ", bulk" : "");
          }
        }
      }
    }
  }
}

// libvorbisfile's reads through the C library's callbacks on an image in memory.
struct ImageReader {
  const test::Bytes* image;
  std::size_t at = 0;
  static std::size_t read(void* out, std::size_t size, std::size_t count, void* self) {
    auto& r = *static_cast<ImageReader*>(self);
    const std::size_t bytes = std::min(size * count, r.image->size() - r.at);
    std::memcpy(out, r.image->data() + r.at, bytes);
    r.at += bytes;
    return bytes / size;
  }
};

TEST(Pcm16ConvertTest, TheAdapterGivesTheLibrarysOwn16BitReadBitForBit) {
  // Loud enough that some samples clip.
  auto signal = test::makeSignal(50000, 2);
  for (auto& s : signal) s = std::clamp(s * 3, -32768, 32767);
  const test::Bytes ogg = test::encodeVorbis(test::toInt16(signal), {});

  ImageReader reader{&ogg};
  OggVorbis_File file{};
  ASSERT_EQ(ov_open_callbacks(&reader, &file, nullptr, 0,
                              ov_callbacks{ImageReader::read, nullptr, nullptr, nullptr}),
            0);
  std::vector<std::int16_t> expected;
  char chunk[4096];
  int link = 0;
  for (long got; (got = ov_read(&file, chunk, sizeof chunk, 0, 2, 1, &link)) > 0;) {
    const auto* samples = reinterpret_cast<const std::int16_t*>(chunk);
    expected.insert(expected.end(), samples, samples + got / 2);
  }
  ov_clear(&file);

  auto handle = vorbisDecoder().open(DecoderSource{nullptr, ogg}, 0);
  ASSERT_TRUE(handle);
  std::vector<std::int16_t> decoded(expected.size() + 100);
  const auto got = handle->read(reinterpret_cast<std::uint8_t*>(decoded.data()),
                                static_cast<std::int32_t>(decoded.size() * 2), AtEnd::Stop);
  decoded.resize(static_cast<std::size_t>(got) / 2);
  ASSERT_EQ(decoded.size(), expected.size());
  EXPECT_EQ(decoded, expected);
  EXPECT_TRUE(std::count(expected.begin(), expected.end(), 32767) > 0) << "the signal clips";
}

}  // namespace
}  // namespace lunadio
