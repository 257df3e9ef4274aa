// The decoder table: probing order, capacity, once-only registration and stream ownership.
#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "audio/decoders/sound_decoder.h"
#include "tests/audio/support/fixtures.h"

namespace lunadio {
namespace {

using test::Bytes;

class FakeHandle final : public DecoderHandle {
 public:
  std::int32_t read(std::uint8_t*, std::int32_t, AtEnd) override { return 0; }
  void rewind() override {}
};

// Accepts when told to; records what it was offered.
class FakeDecoder final : public SoundDecoder {
 public:
  explicit FakeDecoder(bool accepts) : accepts_(accepts) {}
  std::string_view name() const override { return "fake"; }
  std::unique_ptr<DecoderHandle> open(const DecoderSource& source, int) const override {
    ++offers;
    if (source.file) {
      positionsSeen.push_back(std::ftell(source.file));
      char scratch[3];
      (void)std::fread(scratch, 1, sizeof scratch, source.file);  // leaves the stream moved on
    }
    if (!accepts_) return nullptr;
    return std::make_unique<FakeHandle>();
  }
  mutable int offers = 0;
  mutable std::vector<long> positionsSeen;

 private:
  bool accepts_;
};

class DecoderTableTest : public ::testing::Test {
 protected:
  void SetUp() override { clearSoundDecoders(); }
  void TearDown() override { clearSoundDecoders(); }
  const Bytes image_{1, 2, 3, 4, 5, 6, 7, 8};
};

TEST_F(DecoderTableTest, FirstAcceptingPluginWinsAndLaterOnesAreNotAsked) {
  FakeDecoder refuses(false), accepts(true), never(true);
  registerSoundDecoder(refuses);
  registerSoundDecoder(accepts);
  registerSoundDecoder(never);
  auto handle = openDecoderForMemory(image_, 0);
  ASSERT_TRUE(handle);
  EXPECT_EQ(handle->decoder(), &accepts);
  EXPECT_EQ(handle->file(), nullptr);
  EXPECT_EQ(refuses.offers, 1);
  EXPECT_EQ(never.offers, 0);
}

TEST_F(DecoderTableTest, EachPluginSeesTheFileFromItsStartAndTheAcceptingHandleOwnsIt) {
  FakeDecoder first(false), second(false), third(true);
  registerSoundDecoder(first);
  registerSoundDecoder(second);
  registerSoundDecoder(third);
  test::TempFile file(image_);
  auto handle = openDecoderForFile(file.path16(), 0);
  ASSERT_TRUE(handle);
  EXPECT_EQ(handle->decoder(), &third);
  ASSERT_NE(handle->file(), nullptr);
  EXPECT_EQ(first.positionsSeen, std::vector<long>{0});
  EXPECT_EQ(second.positionsSeen, std::vector<long>{0});
  EXPECT_EQ(third.positionsSeen, std::vector<long>{0});
}

TEST_F(DecoderTableTest, NothingAcceptsOrNothingRegistered) {
  test::TempFile file(image_);
  EXPECT_FALSE(openDecoderForMemory(image_, 0));
  EXPECT_FALSE(openDecoderForFile(file.path16(), 0));
  FakeDecoder refuses(false);
  registerSoundDecoder(refuses);
  EXPECT_FALSE(openDecoderForMemory(image_, 0));
  EXPECT_FALSE(openDecoderForFile(file.path16(), 0));
  EXPECT_FALSE(openDecoderForFile(u"/nonexistent/lunadio.ogg", 0));
  EXPECT_EQ(refuses.offers, 2);
}

TEST_F(DecoderTableTest, RegistrationBeyondCapacityIsRefused) {
  std::vector<std::unique_ptr<FakeDecoder>> decoders;
  for (int i = 0; i < kMaxSoundDecoders + 2; ++i) {
    decoders.push_back(std::make_unique<FakeDecoder>(false));
    EXPECT_EQ(registerSoundDecoder(*decoders.back()), i < kMaxSoundDecoders) << i;
  }
  EXPECT_EQ(soundDecoderCount(), kMaxSoundDecoders);
}

TEST_F(DecoderTableTest, AdaptersRegisterOnceInCallOrder) {
  useVorbisDecoder();
  useVorbisDecoder();
  useFlacDecoder();
  useFlacDecoder();
  EXPECT_EQ(soundDecoderCount(), 2);
}

TEST_F(DecoderTableTest, EachFormatGoesToItsAdapter) {
  const auto signal = test::makeSignal(8000, 2);
  const Bytes ogg = test::encodeVorbis(test::toInt16(signal), {});
  const Bytes flac = test::encodeFlac(signal, {});

  useFlacDecoder();
  EXPECT_FALSE(openDecoderForMemory(ogg, 0)) << "Ogg Vorbis without its adapter";
  useVorbisDecoder();
  auto fromOgg = openDecoderForMemory(ogg, 0);
  ASSERT_TRUE(fromOgg);
  EXPECT_EQ(fromOgg->decoder(), &vorbisDecoder());

  clearSoundDecoders();
  useVorbisDecoder();
  useFlacDecoder();
  test::TempFile flacFile(flac);
  auto fromFlac = openDecoderForFile(flacFile.path16(), 0);
  ASSERT_TRUE(fromFlac);
  EXPECT_EQ(fromFlac->decoder(), &flacDecoder());
  EXPECT_EQ(fromFlac->frameCount(), 8000u);

  const Bytes text{'h', 'e', 'l', 'l', 'o', '\n'};
  EXPECT_FALSE(openDecoderForMemory(text, 0));
}

}  // namespace
}  // namespace lunadio
