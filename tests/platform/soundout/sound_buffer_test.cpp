// Buffer operations of the output service: what they accept, refuse and report.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/soundout/internal/sample_reader.h"
#include "tests/platform/soundout/output_fixture.h"

namespace lunadio::soundout {
namespace {

using testing::MemoryDevice;

WaveFormat shaped(std::uint16_t tag, std::uint16_t channels, std::uint16_t bits,
                  std::uint32_t rateHz = 44100) {
  WaveFormat format;
  format.formatTag = tag;
  format.channels = channels;
  format.samplesPerSec = rateHz;
  format.bitsPerSample = bits;
  format.blockAlign = static_cast<std::uint16_t>(channels * bits / 8);
  format.avgBytesPerSec = rateHz * format.blockAlign;
  return format;
}

TEST(SoundBuffer, OnlyPlayableFormatsAreAccepted) {
  WaveFormat extensibleFloat = shaped(kFormatExtensible, 6, 32);
  extensibleFloat.subFormat = kFormatFloat;
  WaveFormat extensibleUnknown = shaped(kFormatExtensible, 2, 16);
  WaveFormat misaligned = shaped(kFormatPcm, 2, 16);
  misaligned.blockAlign = 3;
  struct Case {
    const char* name;
    WaveFormat format;
    Result expected;
  };
  const Case cases[] = {
      {"8-bit", shaped(kFormatPcm, 1, 8), kOk},
      {"16-bit 8 channels", shaped(kFormatPcm, 8, 16), kOk},
      {"24-bit", shaped(kFormatPcm, 2, 24), kOk},
      {"32-bit", shaped(kFormatPcm, 2, 32), kOk},
      {"float", shaped(kFormatFloat, 2, 32), kOk},
      {"extensible float", extensibleFloat, kOk},
      {"100 Hz", shaped(kFormatPcm, 2, 16, 100), kOk},
      {"384 kHz", shaped(kFormatPcm, 2, 16, 384000), kOk},
      {"ADPCM", shaped(2, 2, 16), kErrBadFormat},
      {"12-bit", shaped(kFormatPcm, 2, 12), kErrBadFormat},
      {"64-bit float", shaped(kFormatFloat, 2, 64), kErrBadFormat},
      {"16-bit float", shaped(kFormatFloat, 2, 16), kErrBadFormat},
      {"9 channels", shaped(kFormatPcm, 9, 16), kErrBadFormat},
      {"no channels", shaped(kFormatPcm, 0, 16), kErrBadFormat},
      {"99 Hz", shaped(kFormatPcm, 2, 16, 99), kErrBadFormat},
      {"384001 Hz", shaped(kFormatPcm, 2, 16, 384001), kErrBadFormat},
      {"extensible of no known kind", extensibleUnknown, kErrBadFormat},
      {"block align not channels x sample", misaligned, kErrBadFormat},
  };
  MemoryDevice out;
  for (const Case& c : cases) {
    BufferDesc desc;
    desc.flags = kSoundBufferFlags;
    desc.bufferBytes = 4800;
    desc.format = &c.format;
    std::unique_ptr<SoundBuffer> buffer;
    EXPECT_EQ(out.device->createBuffer(desc, buffer), c.expected) << c.name;
    EXPECT_EQ(buffer != nullptr, c.expected == kOk) << c.name;
  }
}

TEST(SoundBuffer, SizesAndTheSharedMemoryAreChecked) {
  MemoryDevice out;
  const WaveFormat format = pcm16Format(2, 44100);
  std::unique_ptr<SoundBuffer> buffer;
  BufferDesc desc;
  desc.flags = kSoundBufferFlags;
  desc.format = &format;
  desc.bufferBytes = 3;  // less than one frame
  EXPECT_EQ(out.device->createBuffer(desc, buffer), kErrInvalidParam);
  desc.bufferBytes = 4096;
  desc.memory = SampleMemory::allocate(4000);
  EXPECT_EQ(out.device->createBuffer(desc, buffer), kErrInvalidParam);
  desc.memory = nullptr;
  desc.format = nullptr;
  EXPECT_EQ(out.device->createBuffer(desc, buffer), kErrInvalidParam);

  BufferDesc primary;
  primary.flags = kBufferPrimary;
  ASSERT_EQ(out.device->createBuffer(primary, buffer), kOk);
  EXPECT_TRUE(buffer->isPrimary());
  EXPECT_EQ(buffer->play(PlayMode::Once), kErrInvalidCall);
  std::unique_ptr<SoundBuffer> copy;
  EXPECT_EQ(out.device->duplicateBuffer(*buffer, copy), kErrInvalidCall);
}

// The largest buffer: 2^31 - 1 bytes, positions up to its last frame. The memory comes as zero
// pages that are never touched here.
TEST(SoundBuffer, TheLargestBufferHoldsOverThreeHoursOfStereo) {
  MemoryDevice out(44100);
  const WaveFormat format = pcm16Format(2, 44100);
  BufferDesc desc;
  desc.flags = kSoundBufferFlags;
  desc.format = &format;
  desc.bufferBytes = kMaxBufferBytes;
  std::unique_ptr<SoundBuffer> buffer;
  ASSERT_EQ(out.device->createBuffer(desc, buffer), kOk);
  BufferCaps caps;
  buffer->getCaps(caps);
  EXPECT_EQ(caps.bufferBytes, 0x7FFFFFFFu);
  const std::uint32_t lastFrameBytes = (kMaxBufferBytes / 4 - 1) * 4;
  EXPECT_GT(lastFrameBytes / 4 / 44100, 3 * 3600 + 22 * 60);
  ASSERT_EQ(buffer->setCurrentPosition(lastFrameBytes), kOk);
  std::uint32_t play = 0, write = 0;
  ASSERT_EQ(buffer->getCurrentPosition(&play, &write), kOk);
  EXPECT_EQ(play, lastFrameBytes);
  EXPECT_LT(write, play) << "the write cursor wraps round to the start";
  EXPECT_EQ(buffer->setCurrentPosition(kMaxBufferBytes + 1), kErrInvalidParam);
  buffer.reset();
  desc.bufferBytes = kMaxBufferBytes + 1;
  EXPECT_EQ(out.device->createBuffer(desc, buffer), kErrInvalidParam);
}

TEST(SoundBuffer, ControlsRefuseValuesOutOfRangeAndKeepTheOldOnes) {
  MemoryDevice out;
  auto buffer = out.pcm16(std::vector<std::int16_t>(400), 2, 44100);
  EXPECT_EQ(buffer->setVolume(1), kErrInvalidParam);
  EXPECT_EQ(buffer->setVolume(-10001), kErrInvalidParam);
  EXPECT_EQ(buffer->setPan(10001), kErrInvalidParam);
  EXPECT_EQ(buffer->setFrequency(99), kErrInvalidParam);
  EXPECT_EQ(buffer->setFrequency(384001), kErrInvalidParam);
  EXPECT_EQ(buffer->setCurrentPosition(801), kErrInvalidParam);
  std::int32_t volume = 1, pan = 1;
  std::uint32_t hz = 0, play = 1;
  buffer->getVolume(volume);
  buffer->getPan(pan);
  buffer->getFrequency(hz);
  buffer->getCurrentPosition(&play, nullptr);
  EXPECT_EQ(volume, 0);
  EXPECT_EQ(pan, 0);
  EXPECT_EQ(hz, 44100u);
  EXPECT_EQ(play, 0u);
  EXPECT_EQ(buffer->setFrequency(100), kOk);
  EXPECT_EQ(buffer->setFrequency(384000), kOk);
  EXPECT_EQ(buffer->setCurrentPosition(403), kOk);  // rounds down to the frame
  buffer->getCurrentPosition(&play, nullptr);
  EXPECT_EQ(play, 400u);
}

TEST(SoundBuffer, ALockAcrossTheEndComesBackInTwoParts) {
  MemoryDevice out;
  auto buffer = out.pcm16(std::vector<std::int16_t>(512), 2, 48000);  // 1024 bytes
  LockedRegion region;
  ASSERT_EQ(buffer->lock(1000, 100, region), kOk);
  EXPECT_EQ(region.bytes1, 24u);
  EXPECT_EQ(region.bytes2, 76u);
  ASSERT_NE(region.part2, nullptr);
  LockedRegion second;
  EXPECT_EQ(buffer->lock(0, 4, second), kErrInvalidCall);
  std::memset(region.part1, 0x11, region.bytes1);
  std::memset(region.part2, 0x22, region.bytes2);
  ASSERT_EQ(buffer->unlock(region), kOk);
  EXPECT_EQ(buffer->unlock(region), kErrInvalidCall);

  EXPECT_EQ(buffer->lock(1024, 4, region), kErrInvalidParam);
  EXPECT_EQ(buffer->lock(0, 1025, region), kErrInvalidParam);
  ASSERT_EQ(buffer->lock(0, 0, region, LockFrom::EntireBuffer), kOk);
  EXPECT_EQ(region.bytes1, 1024u);
  EXPECT_EQ(region.part1[1000], 0x11);
  EXPECT_EQ(region.part1[75], 0x22);
  EXPECT_EQ(region.part1[76], 0x00);
  buffer->unlock(region);
}

TEST(SoundBuffer, ADuplicateSharesTheMemoryAndWritesWhilePlayingLandOnUnlock) {
  MemoryDevice out(48000, 64);
  auto buffer = out.pcm16(std::vector<std::int16_t>(2 * 256, 1000), 2, 48000);
  buffer->setVolume(-603);
  std::unique_ptr<SoundBuffer> copy;
  ASSERT_EQ(out.device->duplicateBuffer(*buffer, copy), kOk);
  std::int32_t volume = 0;
  copy->getVolume(volume);
  EXPECT_EQ(volume, -603);
  buffer->setVolume(0);
  copy->setVolume(0);
  copy->play(PlayMode::Looping);
  out.render(10);

  LockedRegion region;
  ASSERT_EQ(buffer->lock(0, 1024, region), kOk);
  std::vector<std::int16_t> loud(512, 2000);
  std::memcpy(region.part1, loud.data(), 1024);
  EXPECT_NEAR(out.render(1)[0], 1000 / 32768.0f, 1e-7);  // not in yet
  buffer->unlock(region);
  EXPECT_NEAR(out.render(1)[0], 2000 / 32768.0f, 1e-7);
}

TEST(SoundBuffer, AStreamRingRefilledWhileTheMixerRunsStaysRaceFree) {
  MemoryDevice out(48000, 256);
  auto ring = out.pcm16(std::vector<std::int16_t>(2 * 16384), 2, 44100);
  ring->play(PlayMode::Looping);
  testing::MixerThread mixer([&out] { out.render(256); });
  for (int refill = 0; refill < 300; ++refill) {
    mixer.waitForABlock();
    std::uint32_t play = 0;
    ring->getCurrentPosition(&play, nullptr);
    const std::uint32_t half = play < 32768 ? 32768 : 0;
    LockedRegion region;
    ASSERT_EQ(ring->lock(half, 32768, region), kOk);
    std::memset(region.part1, refill & 0x7F, region.bytes1);
    ring->unlock(region);
    ring->setFrequency(static_cast<std::uint32_t>(30000 + refill * 50));
  }
}

TEST(WaveFormat, AnExtensibleChunkBodyNamesItsSampleKindAndSpeakers) {
  std::vector<std::uint8_t> body = {0xFE, 0xFF, 6,    0, 0x80, 0xBB, 0,  0,    0,    0x94,
                                    0x11, 0,    24,   0, 32,   0,    22, 0,    32,   0,
                                    0x3F, 0,    0,    0, 3,    0,    0,  0,    0,    0,
                                    0x10, 0,    0x80, 0, 0,    0xAA, 0,  0x38, 0x9B, 0x71};
  const auto format = parseWaveFormat(body);
  ASSERT_TRUE(format);
  EXPECT_EQ(format->channels, 6);
  EXPECT_EQ(format->samplesPerSec, 48000u);
  EXPECT_EQ(format->channelMask, 0x3Fu);
  EXPECT_EQ(format->subFormat, kFormatFloat);
  EXPECT_EQ(playableKind(*format), SampleKind::Float32);
  body[30] = 0x11;  // not one of the standard identifiers
  EXPECT_EQ(parseWaveFormat(body)->subFormat, 0);
  EXPECT_FALSE(parseWaveFormat(std::span(body).first(15)));
  EXPECT_EQ(parseWaveFormat(std::span(body).first(16))->extraBytes, 0);
}

}  // namespace
}  // namespace lunadio::soundout
