// The Ogg Vorbis adapter: memory and file sources, 4096-byte library calls, looping, chains whose
// links differ, holes, and header lengths that disagree with the audio.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "audio/decoders/sound_decoder.h"
#include "tests/audio/support/fixtures.h"

namespace lunadio {
namespace {

using test::Bytes;

std::vector<std::int16_t> readSamples(DecoderHandle& handle, std::size_t bytes,
                                      AtEnd atEnd = AtEnd::Stop) {
  std::vector<std::int16_t> out(bytes / 2);
  const auto got = handle.read(reinterpret_cast<std::uint8_t*>(out.data()),
                               static_cast<std::int32_t>(bytes), atEnd);
  out.resize(static_cast<std::size_t>(got) / 2);
  return out;
}

std::unique_ptr<DecoderHandle> openVorbis(const Bytes& image) {
  return vorbisDecoder().open(DecoderSource{nullptr, image}, 0);
}

class VorbisDecoderTest : public ::testing::Test {
 protected:
  static constexpr std::size_t kFrames = 30000;
  const std::vector<std::int16_t> signal_ = test::toInt16(test::makeSignal(kFrames, 2));
  const Bytes ogg_ = test::encodeVorbis(signal_, {});
};

TEST_F(VorbisDecoderTest, MemoryAndFileSourcesGiveTheSamePcm) {
  auto memory = openVorbis(ogg_);
  ASSERT_TRUE(memory);
  EXPECT_EQ(memory->channels(), 2);
  EXPECT_EQ(memory->sampleRate(), 44100);
  EXPECT_EQ(memory->frameCount(), kFrames);
  const auto whole = readSamples(*memory, kFrames * 4 + 4000);
  EXPECT_EQ(whole.size(), kFrames * 2);

  clearSoundDecoders();
  useVorbisDecoder();
  test::TempFile file(ogg_);
  auto fromFile = openDecoderForFile(file.path16(), 0);
  ASSERT_TRUE(fromFile);
  // Read in odd pieces: the pieces join up to the same PCM.
  std::vector<std::int16_t> pieces;
  for (;;) {
    const auto piece = readSamples(*fromFile, 10000);
    if (piece.empty()) break;
    EXPECT_TRUE(piece.size() == 5000 || pieces.size() + piece.size() == whole.size());
    pieces.insert(pieces.end(), piece.begin(), piece.end());
  }
  EXPECT_EQ(pieces, whole);
  clearSoundDecoders();
}

TEST_F(VorbisDecoderTest, LoopingReadStartsOverAtTheEnd) {
  auto handle = openVorbis(ogg_);
  ASSERT_TRUE(handle);
  const auto whole = readSamples(*handle, kFrames * 4);
  EXPECT_TRUE(readSamples(*handle, 4000).empty()) << "at the end without looping";
  const auto looped = readSamples(*handle, 4000, AtEnd::Loop);
  ASSERT_EQ(looped.size(), 2000u);
  EXPECT_EQ(looped, std::vector(whole.begin(), whole.begin() + 2000));
  handle->rewind();
  EXPECT_EQ(readSamples(*handle, 400), std::vector(whole.begin(), whole.begin() + 200));
}

TEST_F(VorbisDecoderTest, ChainedLinksThatDifferStopTheSource) {
  const auto mono = test::toInt16(test::makeSignal(10000, 1));
  struct Case {
    test::VorbisOptions second;
    std::span<const std::int16_t> samples;
    std::size_t expectedFrames;
  };
  const Case cases[] = {
      {{.channels = 2, .sampleRate = 44100, .serial = 7}, signal_, 2 * kFrames},  // same layout
      {{.channels = 1, .sampleRate = 44100, .serial = 7}, mono, kFrames},
      {{.channels = 2, .sampleRate = 22050, .serial = 7}, signal_, kFrames},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.second.channels * 100000 + c.second.sampleRate);
    Bytes chain = ogg_;
    const Bytes second = test::encodeVorbis(c.samples, c.second);
    chain.insert(chain.end(), second.begin(), second.end());
    // A third link like the first must not play after a foreign one either.
    const Bytes third = test::encodeVorbis(signal_, {.serial = 9});
    chain.insert(chain.end(), third.begin(), third.end());
    auto handle = openVorbis(chain);
    ASSERT_TRUE(handle);
    EXPECT_EQ(handle->channels(), 2);
    const std::size_t expected = c.expectedFrames == kFrames ? kFrames : 3 * kFrames;
    EXPECT_EQ(handle->frameCount(), expected) << "the length is what plays";
    // Nothing of a foreign link reaches the caller's memory, not even past the count returned.
    const std::size_t room = 3 * kFrames * 4 * 2;
    std::vector<std::uint8_t> raw(room, 0x5A);
    const auto got = handle->read(raw.data(), static_cast<std::int32_t>(room), AtEnd::Stop);
    EXPECT_EQ(static_cast<std::size_t>(got), expected * 4);
    EXPECT_TRUE(
        std::all_of(raw.begin() + got, raw.end(), [](std::uint8_t b) { return b == 0x5A; }));
    handle->rewind();
    const auto decoded = readSamples(*handle, room);
    EXPECT_EQ(decoded.size() / 2, expected);
    EXPECT_TRUE(readSamples(*handle, 4000).empty());
    // Looping comes back round to the first link.
    EXPECT_EQ(readSamples(*handle, 4000, AtEnd::Loop).size(), 2000u);
  }
}

TEST_F(VorbisDecoderTest, RewindRepeatsTheFirstPassExactly) {
  struct Case {
    int channels;
    int rate;
    float quality;
    std::size_t frames;
  };
  for (const Case c :
       {Case{2, 44100, 0.3f, kFrames}, Case{1, 22050, -0.1f, 5000}, Case{2, 48000, 1.0f, 100000},
        Case{5, 44100, 0.5f, 3000}, Case{2, 44100, 0.3f, 700}, Case{1, 22050, 0.0f, 100}}) {
    SCOPED_TRACE(c.channels * 1000 + c.frames);
    const Bytes image =
        test::encodeVorbis(test::toInt16(test::makeSignal(c.frames, c.channels)),
                           {.channels = c.channels, .sampleRate = c.rate, .quality = c.quality});
    auto handle = openVorbis(image);
    ASSERT_TRUE(handle);
    const std::size_t frameBytes = static_cast<std::size_t>(c.channels) * 2;
    const auto first = readSamples(*handle, c.frames * frameBytes);
    ASSERT_EQ(first.size(), c.frames * static_cast<std::size_t>(c.channels));
    handle->rewind();
    EXPECT_EQ(readSamples(*handle, c.frames * frameBytes), first) << "rewound at the end";
    readSamples(*handle, c.frames * frameBytes / 3);
    handle->rewind();
    EXPECT_EQ(readSamples(*handle, c.frames * frameBytes), first) << "rewound mid-stream";
    // A looping read comes round to the same first frames.
    const auto looped = readSamples(*handle, 2 * c.frames * frameBytes, AtEnd::Loop);
    ASSERT_EQ(looped.size(), 2 * first.size());
    EXPECT_TRUE(std::equal(first.begin(), first.end(), looped.begin() + first.size()));
  }
}

// A stream whose first audio page ends before the samples it holds (an encoder's priming trimmed,
// or a stream cut out of a longer one): the library drops the samples before the stated start.
TEST_F(VorbisDecoderTest, RewindRepeatsATrimmedStartExactly) {
  auto pages = test::encodeVorbisPages(signal_, {});
  const auto granuleOf = [](const Bytes& page) {
    std::int64_t g = 0;
    for (int i = 7; i >= 0; --i) g = g << 8 | page[6 + static_cast<std::size_t>(i)];
    return g;
  };
  std::size_t firstAudio = 0;
  while (firstAudio < pages.size() && granuleOf(pages[firstAudio]) <= 0) ++firstAudio;
  ASSERT_LT(firstAudio + 1, pages.size());
  test::setPageGranule(pages[firstAudio], granuleOf(pages[firstAudio]) - 1000);
  const Bytes trimmed = test::joinPages(pages);
  auto handle = openVorbis(trimmed);
  ASSERT_TRUE(handle);
  const auto first = readSamples(*handle, kFrames * 4);
  ASSERT_FALSE(first.empty());
  handle->rewind();
  EXPECT_EQ(readSamples(*handle, kFrames * 4), first);
}

TEST_F(VorbisDecoderTest, HolesAndWrongLengthsAreDecodedAsTheyAre) {
  const std::size_t frames = 4 * kFrames;
  auto pages = test::encodeVorbisPages(test::toInt16(test::makeSignal(frames, 2)), {});
  ASSERT_GT(pages.size(), 6u);
  // A page lost in the middle: the rest still decodes.
  auto holed = pages;
  holed.erase(holed.begin() + static_cast<std::ptrdiff_t>(holed.size() / 2));
  const Bytes holedImage = test::joinPages(holed);
  auto handle = openVorbis(holedImage);
  ASSERT_TRUE(handle);
  const auto decoded = readSamples(*handle, frames * 4);
  EXPECT_GT(decoded.size(), frames);
  EXPECT_LT(decoded.size(), frames * 2);

  // The last page claims more frames than the audio holds: the header's length is reported,
  // the audio decodes as it is and then ends.
  auto longer = pages;
  test::setPageGranule(longer.back(), static_cast<std::int64_t>(frames) + 50000);
  const Bytes longerImage = test::joinPages(longer);
  auto claimsMore = openVorbis(longerImage);
  ASSERT_TRUE(claimsMore);
  EXPECT_EQ(claimsMore->frameCount(), frames + 50000);
  const auto all = readSamples(*claimsMore, (frames + 50000) * 4);
  EXPECT_LT(all.size(), (frames + 50000) * 2);
}

TEST_F(VorbisDecoderTest, SourcesWithoutAudioNeverSpin) {
  const Bytes empty = test::encodeVorbis({}, {});
  auto handle = openVorbis(empty);
  ASSERT_TRUE(handle);
  EXPECT_TRUE(readSamples(*handle, 40000, AtEnd::Loop).empty());
  // Cut after the headers: opens or not, but a looping read returns.
  const Bytes cut(ogg_.begin(), ogg_.begin() + 6000);
  if (auto truncated = openVorbis(cut)) readSamples(*truncated, 400000, AtEnd::Loop);
  EXPECT_FALSE(openVorbis(Bytes{'O', 'g', 'g', 'S'}));
  EXPECT_FALSE(openVorbis(Bytes(70000, 0)));
}

}  // namespace
}  // namespace lunadio
