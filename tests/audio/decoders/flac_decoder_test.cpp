// The FLAC adapter: exact samples, the carry-over between reads, looping, every layout and depth
// brought to 16-bit stereo, and streams whose header length is missing or wrong.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "audio/decoders/sound_decoder.h"
#include "tests/audio/support/fixtures.h"
#include "tests/audio/support/flac_writer.h"

namespace lunadio {
namespace {

using test::Bytes;

std::vector<std::int16_t> readFrames(DecoderHandle& handle, std::size_t frames,
                                     AtEnd atEnd = AtEnd::Stop) {
  std::vector<std::int16_t> out(frames * 2);
  const auto bytes = handle.read(reinterpret_cast<std::uint8_t*>(out.data()),
                                 static_cast<std::int32_t>(frames * 4), atEnd);
  out.resize(static_cast<std::size_t>(bytes) / 2);
  return out;
}

// The stereo frames [first, first + count) of 16-bit interleaved source samples.
std::vector<std::int16_t> sourceFrames(const std::vector<std::int32_t>& source, std::size_t first,
                                       std::size_t count) {
  return test::toInt16(std::span(source).subspan(first * 2, count * 2));
}

std::unique_ptr<DecoderHandle> openFlac(const Bytes& image) {
  return flacDecoder().open(DecoderSource{nullptr, image}, 0);
}

TEST(FlacDecoder, WholeStreamGivesExactlyItsSamplesFirstToLast) {
  const auto source = test::makeSignal(20000, 2);
  const Bytes flac = test::encodeFlac(source, {});
  auto handle = openFlac(flac);
  ASSERT_TRUE(handle);
  EXPECT_EQ(handle->channels(), 2);
  EXPECT_EQ(handle->sampleRate(), 44100);
  EXPECT_EQ(handle->frameCount(), 20000u);
  EXPECT_EQ(readFrames(*handle, 25000), test::toInt16(source));
  EXPECT_TRUE(readFrames(*handle, 10).empty()) << "at the end without looping";
}

TEST(FlacDecoder, ReadsThatSplitBlocksCarryTheRestOver) {
  const auto source = test::makeSignal(3 * 4096 + 100, 2);
  const Bytes image = test::encodeFlac(source, {.blockFrames = 4096});
  auto handle = openFlac(image);
  ASSERT_TRUE(handle);
  std::vector<std::int16_t> first(5000);
  ASSERT_EQ(handle->read(reinterpret_cast<std::uint8_t*>(first.data()), 10000, AtEnd::Stop), 10000);
  EXPECT_EQ(first, sourceFrames(source, 0, 2500));
  // The other 1,596 frames of that block come first, then the next block.
  EXPECT_EQ(readFrames(*handle, 1596), sourceFrames(source, 2500, 1596));
  EXPECT_EQ(readFrames(*handle, 3), sourceFrames(source, 4096, 3));
  // A request that is not whole frames writes whole frames only and loses nothing.
  std::vector<std::int16_t> odd(4);
  EXPECT_EQ(handle->read(reinterpret_cast<std::uint8_t*>(odd.data()), 7, AtEnd::Stop), 4);
  EXPECT_EQ(std::vector<std::int16_t>(odd.begin(), odd.begin() + 2), sourceFrames(source, 4099, 1));
  EXPECT_EQ(readFrames(*handle, 2), sourceFrames(source, 4100, 2));
}

TEST(FlacDecoder, LoopingReadContinuesFromTheFirstFrame) {
  const auto source = test::makeSignal(5000, 2);
  for (const std::int64_t declared : {std::int64_t{-1}, std::int64_t{0}}) {
    SCOPED_TRACE(declared);
    const Bytes image = test::encodeFlac(source, {.blockFrames = 1152, .declaredFrames = declared});
    auto handle = openFlac(image);
    ASSERT_TRUE(handle);
    readFrames(*handle, 4000);
    const auto wrapped = readFrames(*handle, 3000, AtEnd::Loop);
    ASSERT_EQ(wrapped.size(), 6000u);
    EXPECT_EQ(std::vector(wrapped.begin(), wrapped.begin() + 2000),
              sourceFrames(source, 4000, 1000));
    EXPECT_EQ(std::vector(wrapped.begin() + 2000, wrapped.end()), sourceFrames(source, 0, 2000));
    handle->rewind();
    EXPECT_EQ(readFrames(*handle, 10), sourceFrames(source, 0, 10));
  }
}

TEST(FlacDecoder, EveryDepthIsScaledToSixteenBits) {
  struct Case {
    int bits;
    int rate;
  };
  for (const Case c : {Case{8, 44100}, Case{12, 22050}, Case{20, 48000}, Case{24, 96000}}) {
    SCOPED_TRACE(c.bits);
    const auto source = test::makeSignal(3000, 2, c.bits);
    const Bytes image = test::encodeFlac(source, {.bitsPerSample = c.bits, .sampleRate = c.rate});
    auto handle = openFlac(image);
    ASSERT_TRUE(handle);
    EXPECT_EQ(handle->sampleRate(), c.rate);
    const auto decoded = readFrames(*handle, 3000);
    ASSERT_EQ(decoded.size(), source.size());
    for (std::size_t i = 0; i < source.size(); ++i) {
      const std::int32_t expected =
          c.bits > 16 ? source[i] >> (c.bits - 16) : source[i] * (1 << (16 - c.bits));
      ASSERT_EQ(decoded[i], expected) << "sample " << i;
    }
  }
}

TEST(FlacDecoder, MonoIsWrittenToBothSidesAndReportedAsStereo) {
  const auto source = test::makeSignal(3000, 1);
  const Bytes image = test::encodeFlac(source, {.channels = 1});
  auto handle = openFlac(image);
  ASSERT_TRUE(handle);
  EXPECT_EQ(handle->channels(), 2) << "the layout it writes";
  EXPECT_EQ(handle->frameCount(), 3000u);
  const auto decoded = readFrames(*handle, 3000);
  ASSERT_EQ(decoded.size(), 6000u);
  for (std::size_t f = 0; f < 3000; ++f) {
    ASSERT_EQ(decoded[2 * f], source[f]);
    ASSERT_EQ(decoded[2 * f + 1], source[f]);
  }
}

TEST(FlacDecoder, SurroundIsMixedDownToStereoWithoutClipping) {
  // 5.1 in FLAC order: L R C LFE BL BR. Left hears L, C and BL; right hears R, C and BR.
  constexpr std::size_t kFrames = 2000;
  auto source = test::makeSignal(kFrames, 6);
  for (std::size_t f = 0; f < 10; ++f) {
    for (int c = 0; c < 6; ++c)
      source[f * 6 + static_cast<std::size_t>(c)] = 32767;  // all at full scale
  }
  const Bytes image = test::encodeFlac(source, {.channels = 6});
  auto handle = openFlac(image);
  ASSERT_TRUE(handle);
  EXPECT_EQ(handle->channels(), 2);
  const auto decoded = readFrames(*handle, kFrames);
  ASSERT_EQ(decoded.size(), kFrames * 2);
  const double side = 1.0 / (1.0 + 2 * 0.70710678);
  const double blend = 0.70710678 * side;
  for (std::size_t f = 0; f < kFrames; ++f) {
    const auto at = [&](int c) {
      return static_cast<double>(source[f * 6 + static_cast<std::size_t>(c)]);
    };
    ASSERT_NEAR(decoded[2 * f], side * at(0) + blend * (at(2) + at(4)), 1.0) << f;
    ASSERT_NEAR(decoded[2 * f + 1], side * at(1) + blend * (at(2) + at(5)), 1.0) << f;
  }
  EXPECT_GE(decoded[0], 32766);
}

TEST(FlacDecoder, HeaderLengthThatDisagreesWithTheAudio) {
  const auto source = test::makeSignal(6000, 2);
  struct Case {
    std::int64_t declared;
    std::uint32_t reported;
  };
  // No length in the header, a longer one, a shorter one: the audio is decoded as it is.
  for (const Case c : {Case{0, 0}, Case{9000, 9000}, Case{4000, 4000}}) {
    SCOPED_TRACE(c.declared);
    const Bytes image = test::encodeFlac(source, {.declaredFrames = c.declared});
    auto handle = openFlac(image);
    ASSERT_TRUE(handle);
    EXPECT_EQ(handle->frameCount(), c.reported);
    EXPECT_EQ(readFrames(*handle, 10000), test::toInt16(source));
  }
}

// The first block of a stream is held whole after the open (the rewind gives it no room), and a
// read that ends inside a block keeps the rest: both must hold the largest block the format allows
// (65,536 frames, one more than libFLAC's encoder writes), whatever STREAMINFO claims.
TEST(FlacDecoder, BlocksAsLargeAsTheFormatAllowsKeepEverySample) {
  struct Case {
    const char* name;
    std::uint32_t blockFrames;
    std::uint32_t declaredMaxBlockFrames;  // 0: the real one, capped to STREAMINFO's 16 bits
    std::size_t frames;
  };
  const Case cases[] = {
      {"65,536-frame blocks", 65536, 0, 2 * 65536 + 1000},
      {"blocks four times the header's largest", 16384, 4096, 8 * 16384},
      {"a header that names a block smaller than the format's smallest", 16384, 8, 3 * 16384},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto source = test::makeSignal(c.frames, 2);
    const Bytes image = test::writeFlac(
        source,
        {.blockFrames = {c.blockFrames}, .declaredMaxBlockFrames = c.declaredMaxBlockFrames});
    auto handle = openFlac(image);
    ASSERT_TRUE(handle);
    EXPECT_EQ(handle->frameCount(), c.frames);
    EXPECT_EQ(readFrames(*handle, c.frames + 10), test::toInt16(source));
    // Reads of 2,500 frames: nearly every block ends in the carry-over.
    handle->rewind();
    std::vector<std::int16_t> pieces;
    for (std::vector<std::int16_t> piece; !(piece = readFrames(*handle, 2500)).empty();) {
      pieces.insert(pieces.end(), piece.begin(), piece.end());
    }
    EXPECT_EQ(pieces, test::toInt16(source));
  }
}

TEST(FlacDecoder, DamagedAndForeignImages) {
  const auto source = test::makeSignal(10000, 2);
  const Bytes flac = test::encodeFlac(source, {.blockFrames = 1024});
  // Cut in the middle of the audio: what is whole is decoded, looping still comes round.
  const Bytes cut(flac.begin(), flac.begin() + static_cast<std::ptrdiff_t>(flac.size() / 2));
  auto handle = openFlac(cut);
  ASSERT_TRUE(handle);
  const auto decoded = readFrames(*handle, 10000);
  EXPECT_GT(decoded.size(), 4000u);
  EXPECT_LT(decoded.size(), 20000u);
  EXPECT_EQ(std::vector(decoded.begin(), decoded.begin() + 1000), sourceFrames(source, 0, 500));
  EXPECT_EQ(readFrames(*handle, 30000, AtEnd::Loop).size(), 60000u);

  // Header only: nothing to decode, so nothing is accepted or a looping read still returns.
  const Bytes headerOnly(flac.begin(), flac.begin() + 42);
  if (auto empty = openFlac(headerOnly)) {
    EXPECT_TRUE(readFrames(*empty, 100, AtEnd::Loop).empty());
  }
  EXPECT_FALSE(openFlac(Bytes{'f', 'L', 'a', 'C'}));
  EXPECT_FALSE(openFlac(Bytes(1000, 0)));
}

}  // namespace
}  // namespace lunadio
