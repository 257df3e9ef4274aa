// What the mixer makes of playing buffers, checked sample by sample on the memory output.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "platform/soundout/internal/mixer.h"
#include "tests/platform/soundout/output_fixture.h"

namespace lunadio::soundout {
namespace {

using testing::largestStep;
using testing::MemoryDevice;
using testing::sine16;

TEST(Mixer, AtTheOutputRateWithNeutralGainTheSamplesPassThroughBitExact) {
  MemoryDevice out(48000);
  std::vector<std::int16_t> samples(2 * 3000);
  for (std::size_t i = 0; i < samples.size(); ++i) {
    samples[i] = static_cast<std::int16_t>((i * 7919u) % 65536u - 32768);
  }
  auto buffer = out.pcm16(samples, 2, 48000);
  ASSERT_EQ(buffer->play(PlayMode::Once), kOk);
  const std::vector<float> mixed = out.render(3000);
  for (std::size_t i = 0; i < samples.size(); ++i) {
    ASSERT_EQ(mixed[i], samples[i] / 32768.0f) << "sample " << i;
    ASSERT_EQ(static_cast<std::int16_t>(mixed[i] * 32768.0f), samples[i]);
  }
}

struct LevelCase {
  const char* name;
  WaveFormat format;
  std::vector<std::uint8_t> frame;  // one frame, repeated
  float left;
  float right;
};

WaveFormat formatOf(std::uint16_t tag, std::uint16_t channels, std::uint16_t bits) {
  WaveFormat format;
  format.formatTag = tag;
  format.channels = channels;
  format.samplesPerSec = 48000;
  format.bitsPerSample = bits;
  format.blockAlign = static_cast<std::uint16_t>(channels * bits / 8);
  format.avgBytesPerSec = 48000u * format.blockAlign;
  return format;
}

std::vector<std::uint8_t> floatBytes(std::initializer_list<float> values) {
  std::vector<std::uint8_t> bytes(values.size() * 4);
  std::memcpy(bytes.data(), values.begin(), bytes.size());
  return bytes;
}

TEST(Mixer, EverySampleFormatPlaysAtItsOwnLevel) {
  constexpr float kHalf = 0.5f;
  constexpr float kCentre = 0.5f * 0.70710678f;
  WaveFormat extensible = formatOf(kFormatExtensible, 4, 16);
  extensible.subFormat = kFormatPcm;
  extensible.channelMask = 0x1 | 0x2 | 0x4 | 0x8;  // L R C LFE
  const LevelCase cases[] = {
      {"8-bit unsigned", formatOf(kFormatPcm, 2, 8), {192, 64}, kHalf, -kHalf},
      {"16-bit mono on both sides", formatOf(kFormatPcm, 1, 16), {0x00, 0x40}, kHalf, kHalf},
      {"24-bit", formatOf(kFormatPcm, 2, 24), {0, 0, 0x40, 0, 0, 0xC0}, kHalf, -kHalf},
      {"32-bit", formatOf(kFormatPcm, 2, 32), {0, 0, 0, 0x40, 0, 0, 0, 0xC0}, kHalf, -kHalf},
      {"float", formatOf(kFormatFloat, 2, 32), floatBytes({0.5f, -0.5f}), kHalf, -kHalf},
      {"float NaN is silence", formatOf(kFormatFloat, 2, 32), floatBytes({NAN, 0.5f}), 0.0f, kHalf},
      {"float infinities clip", formatOf(kFormatFloat, 2, 32), floatBytes({-INFINITY, INFINITY}),
       -1.0f, 1.0f},
      {"6 channels: front left only",
       formatOf(kFormatPcm, 6, 16),
       {0, 0x40, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
       kHalf,
       0.0f},
      {"6 channels: centre at -3 dB on both",
       formatOf(kFormatPcm, 6, 16),
       {0, 0, 0, 0, 0, 0x40, 0, 0, 0, 0, 0, 0},
       kCentre,
       kCentre},
      {"6 channels: low-frequency left out",
       formatOf(kFormatPcm, 6, 16),
       {0, 0, 0, 0, 0, 0, 0, 0x40, 0, 0, 0, 0},
       0.0f,
       0.0f},
      {"6 channels: back right at -3 dB",
       formatOf(kFormatPcm, 6, 16),
       {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x40},
       0.0f,
       kCentre},
      {"extensible with a mask", extensible, {0, 0, 0, 0, 0, 0x40, 0, 0x40}, kCentre, kCentre},
  };
  for (const LevelCase& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryDevice out(48000);
    std::vector<std::uint8_t> bytes;
    for (int i = 0; i < 64; ++i) bytes.insert(bytes.end(), c.frame.begin(), c.frame.end());
    auto buffer = out.buffer(c.format, bytes);
    ASSERT_TRUE(buffer);
    buffer->play(PlayMode::Looping);
    const std::vector<float> mixed = out.render(100);
    EXPECT_NEAR(mixed[2 * 77], c.left, 1e-6);
    EXPECT_NEAR(mixed[2 * 77 + 1], c.right, 1e-6);
  }
}

TEST(Mixer, VolumeAndPanAttenuateInHundredthsOfADecibel) {
  struct Case {
    std::int32_t volume;
    std::int32_t pan;
    double left;
    double right;
  };
  const double minus603 = std::pow(10.0, -603 / 2000.0);
  const double minus2000 = 0.1;
  const Case cases[] = {
      {0, 0, 1.0, 1.0},
      {-603, 0, minus603, minus603},
      {kVolumeMin, 0, 0.0, 0.0},
      {0, 2000, minus2000, 1.0},
      {0, -2000, 1.0, minus2000},
      {0, kPanRight, 0.0, 1.0},
      {-603, kPanLeft, minus603, 0.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "volume " << c.volume << " pan " << c.pan);
    MemoryDevice out(48000);
    auto buffer = out.pcm16(std::vector<std::int16_t>(2 * 256, 16384), 2, 48000);
    ASSERT_EQ(buffer->setVolume(c.volume), kOk);
    ASSERT_EQ(buffer->setPan(c.pan), kOk);
    buffer->play(PlayMode::Looping);
    const std::vector<float> mixed = out.render(64);
    EXPECT_NEAR(mixed[100], 0.5 * c.left, 1e-6);
    EXPECT_NEAR(mixed[101], 0.5 * c.right, 1e-6);
  }
}

TEST(Mixer, AVolumeChangeWhilePlayingRampsOverOneBlockInsteadOfStepping) {
  MemoryDevice out(48000, 256);
  auto buffer = out.pcm16(std::vector<std::int16_t>(2 * 1024, 16384), 2, 48000);
  buffer->play(PlayMode::Looping);
  out.render(256);
  buffer->setVolume(kVolumeMin);
  const std::vector<float> ramp = out.render(256);
  EXPECT_GT(ramp[0], 0.49f);
  EXPECT_LT(largestStep(ramp), 0.5f / 200);
  EXPECT_EQ(ramp[2 * 255], 0.0f);
  EXPECT_EQ(out.render(16)[0], 0.0f);
}

TEST(Mixer, ALongBlockRampsAVolumeChangeAtItsStartAndHoldsTheNewLevel) {
  MemoryDevice out(48000, 2048);
  auto buffer = out.pcm16(std::vector<std::int16_t>(2 * 4096, 16384), 2, 48000);
  buffer->play(PlayMode::Looping);
  out.render(2048);
  buffer->setVolume(kVolumeMin);
  const std::vector<float> block = out.render(2048);
  EXPECT_GT(block[0], 0.49f);
  EXPECT_LT(largestStep(block), 0.5f / 400) << "still a ramp, not a click";
  // Silent from about 11 ms on, not only at the end of a 43 ms block.
  for (std::size_t frame = 512; frame < 2048; ++frame) ASSERT_EQ(block[2 * frame], 0.0f) << frame;
}

TEST(Mixer, ALoopingBufferWrapsWithoutAGapAtTheOutputRate) {
  MemoryDevice out(48000, 512);
  std::vector<std::int16_t> samples(2 * 1000);
  for (std::size_t f = 0; f < 1000; ++f)
    samples[2 * f] = samples[2 * f + 1] = static_cast<std::int16_t>(f);
  auto buffer = out.pcm16(samples, 2, 48000);
  buffer->play(PlayMode::Looping);
  const std::vector<float> mixed = out.render(3500);
  for (std::size_t f = 0; f < 3500; ++f) {
    ASSERT_EQ(mixed[2 * f], static_cast<float>(f % 1000) / 32768.0f) << "frame " << f;
  }
}

// Memory a decoder is still filling: the mixer plays what is final, holds silent at the mark
// (its cursor waits there), and goes on from that very frame once more is published.
TEST(Mixer, AVoiceHoldsAtWhatIsDecodedAndGoesOnFromThere) {
  for (const bool resampled : {false, true}) {
    SCOPED_TRACE(resampled);
    MemoryDevice out(48000, 512);
    constexpr std::uint32_t kFrames = 4000;
    auto memory = SampleMemory::allocateUnfilled(kFrames * 4);
    ASSERT_TRUE(memory);
    auto* samples = reinterpret_cast<std::int16_t*>(memory->data());
    for (std::uint32_t f = 0; f < kFrames; ++f) {
      samples[2 * f] = samples[2 * f + 1] = static_cast<std::int16_t>(f + 1);
    }
    memory->setReadyBytes(1000 * 4);
    std::unique_ptr<SoundBuffer> buffer;
    ASSERT_EQ(createPcm16Buffer(*out.device, 2, resampled ? 44100 : 48000, memory, buffer), kOk);
    buffer->play(PlayMode::Looping);
    const std::vector<float> first = out.render(1500);
    std::uint32_t play = 0;
    buffer->getCurrentPosition(&play, nullptr);
    EXPECT_EQ(play, 1000u * 4) << "held at the last final frame";
    for (std::size_t f = 1200; f < 1500; ++f) ASSERT_EQ(first[2 * f], 0.0f) << f;
    if (!resampled) {
      for (std::size_t f = 0; f < 1000; ++f) {
        ASSERT_EQ(first[2 * f], static_cast<float>(f + 1) / 32768.0f) << f;
      }
    }
    memory->setReadyBytes(kFrames * 4);
    const std::vector<float> rest = out.render(kFrames);
    if (!resampled) {
      // Frame 1000 comes next, then the end wraps straight to frame 0.
      for (std::size_t f = 0; f < kFrames; ++f) {
        ASSERT_EQ(rest[2 * f], static_cast<float>((1000 + f) % kFrames + 1) / 32768.0f) << f;
      }
    } else {
      EXPECT_GT(std::abs(rest[2 * 10]), 900.0f / 32768.0f) << "goes on near frame 1000";
    }
  }
}

TEST(Mixer, ALoopingBufferWrapsWithoutAClickWhenResampled) {
  MemoryDevice out(48000, 512);
  // 441 Hz: exactly 100 periods in 100000 frames at 44.1 kHz, so the loop is seamless in the
  // source.
  auto buffer = out.pcm16(sine16(100000, 441.0, 44100), 2, 44100);
  buffer->play(PlayMode::Looping);
  const std::vector<float> mixed = out.render(48000 * 5 / 2);  // crosses the loop point twice
  const float allowed = 2.0f * (16000.0f / 32768.0f) * std::sin(M_PI * 441.0 / 48000.0);
  EXPECT_LT(largestStep(mixed, 100), allowed * 1.02f);
}

TEST(Mixer, AOneShotBufferStopsAtItsEndWithItsCursorThere) {
  for (std::uint32_t rateHz : {48000u, 44100u}) {
    SCOPED_TRACE(rateHz);
    MemoryDevice out(48000, 512);
    auto buffer = out.pcm16(std::vector<std::int16_t>(2 * 1000, 8000), 2, rateHz);
    buffer->play(PlayMode::Once);
    const std::vector<float> mixed = out.render(2000);
    std::uint32_t status = 0;
    buffer->getStatus(status);
    EXPECT_EQ(status, 0u);
    std::uint32_t play = 0;
    buffer->getCurrentPosition(&play, nullptr);
    EXPECT_EQ(play, 4000u);
    EXPECT_NEAR(mixed[2 * 500], 8000 / 32768.0f, 1e-3);
    EXPECT_EQ(mixed[2 * 1999], 0.0f);
    // Played again from its end, it starts over.
    buffer->play(PlayMode::Once);
    EXPECT_NEAR(out.render(600)[2 * 500], 8000 / 32768.0f, 1e-3);
  }
}

TEST(Mixer, FrequencyZeroRestoresTheBuffersOwnRateAndPassThrough) {
  MemoryDevice out(48000);
  auto buffer = out.pcm16(sine16(4800, 1000.0, 48000), 2, 48000);
  std::uint32_t hz = 0;
  ASSERT_EQ(buffer->setFrequency(22050), kOk);
  buffer->getFrequency(hz);
  EXPECT_EQ(hz, 22050u);
  buffer->play(PlayMode::Looping);
  out.render(1000);
  buffer->stop();
  out.render(300);  // the stop's fade-out
  ASSERT_EQ(buffer->setFrequency(kFrequencyOriginal), kOk);
  buffer->getFrequency(hz);
  EXPECT_EQ(hz, 48000u);
  buffer->setCurrentPosition(0);
  buffer->play(PlayMode::Looping);
  const std::vector<float> mixed = out.render(100);
  const std::vector<std::int16_t> source = sine16(100, 1000.0, 48000);
  for (std::size_t i = 0; i < 200; ++i) ASSERT_EQ(mixed[i], source[i] / 32768.0f);
}

TEST(Mixer, TheRatioFollowsTheFrequencyAndItsChangesDoNotClick) {
  // The player's fade: the frequency falls 2% of the base every 10 ms. Neither the first move off
  // the pass-through (44.1 kHz output) nor any later step may jump further than the tone itself
  // moves from one sample to the next.
  for (std::uint32_t outputHz : {44100u, 48000u}) {
    SCOPED_TRACE(outputHz);
    MemoryDevice out(outputHz, 441);
    const double toneHz = 441.0;
    auto buffer = out.pcm16(sine16(44100, toneHz, 44100), 2, 44100);
    buffer->play(PlayMode::Looping);
    std::vector<float> mixed = out.render(outputHz / 20);
    const float amplitude = 16000.0f / 32768.0f;
    for (int i = 98; i >= 40; i -= 2) {
      buffer->setFrequency(static_cast<std::uint32_t>(std::lround(44100.0 * i / 100)));
      const std::vector<float> step = out.render(outputHz / 100);
      const float toneBefore = static_cast<float>(toneHz * (i + 2) / 100.0);
      const float allowed =
          2.0f * amplitude * std::sin(static_cast<float>(M_PI) * toneBefore / outputHz);
      std::vector<float> joined(mixed.end() - 2, mixed.end());
      joined.insert(joined.end(), step.begin(), step.end());
      ASSERT_LT(largestStep(joined), allowed * 1.05f) << "at " << i << "%";
      mixed = step;
    }
  }
}

TEST(Mixer, AStopOrReleaseWhileHeardFadesOutInsteadOfCutting) {
  for (std::uint32_t rateHz : {48000u, 44100u}) {
    SCOPED_TRACE(rateHz);
    MemoryDevice out(48000, 512);
    auto buffer = out.pcm16(sine16(48000, 1000.0, rateHz), 2, rateHz);
    buffer->play(PlayMode::Looping);
    const std::vector<float> before = out.render(1000);
    std::uint32_t stoppedAt = 0;
    buffer->getCurrentPosition(&stoppedAt, nullptr);
    buffer->stop();
    std::vector<float> after(before.end() - 2, before.end());
    const std::vector<float> tail = out.render(400);
    after.insert(after.end(), tail.begin(), tail.end());
    const float toneStep =
        2.0f * (16000.0f / 32768.0f) * std::sin(M_PI * 1000.0 * 48000 / rateHz / 48000);
    EXPECT_LT(largestStep(after), toneStep * 1.05f);
    EXPECT_NE(tail[0], 0.0f);
    EXPECT_EQ(tail[2 * 300], 0.0f);
    std::uint32_t position = 0;
    buffer->getCurrentPosition(&position, nullptr);
    EXPECT_EQ(position, stoppedAt);  // the fade-out was heard ahead of time, not played from it

    // Resumed, it continues where it stopped: at the output rate, bit-exact.
    buffer->play(PlayMode::Looping);
    const std::vector<float> resumed = out.render(10);
    if (rateHz == 48000) {
      const std::vector<std::int16_t> source = sine16(48000, 1000.0, rateHz);
      EXPECT_EQ(resumed[0], source[stoppedAt / 2] / 32768.0f);
    }
    buffer.reset();  // released while heard: faded out as well
    const std::vector<float> released = out.render(400);
    EXPECT_NE(released[0], 0.0f);
    EXPECT_EQ(released[2 * 300], 0.0f);
  }
}

TEST(Mixer, VoicesAreSummedAndClipped) {
  MemoryDevice out(48000);
  auto a = out.pcm16(std::vector<std::int16_t>(2 * 64, 24000), 2, 48000);
  auto b = out.pcm16(std::vector<std::int16_t>(2 * 64, -4000), 2, 48000);
  auto c = out.pcm16(std::vector<std::int16_t>(2 * 64, 24000), 2, 48000);
  a->play(PlayMode::Looping);
  b->play(PlayMode::Looping);
  EXPECT_FLOAT_EQ(out.render(8)[0], 20000 / 32768.0f);
  c->play(PlayMode::Looping);
  EXPECT_EQ(out.render(8)[0], 1.0f);
}

TEST(Mixer, TheDeviceIsActiveOnlyWhileABufferPlays) {
  MemoryDevice out(48000);
  auto a = out.pcm16(std::vector<std::int16_t>(2 * 64, 1), 2, 48000);
  auto b = out.pcm16(std::vector<std::int16_t>(2 * 64, 1), 2, 48000);
  EXPECT_FALSE(out.output->active());
  a->play(PlayMode::Looping);
  b->play(PlayMode::Looping);
  EXPECT_TRUE(out.output->active());
  a->stop();
  EXPECT_TRUE(out.output->active());
  b.reset();
  EXPECT_FALSE(out.output->active());
  a->play(PlayMode::Once);
  out.render(100);  // runs out
  EXPECT_TRUE(out.output->active());
  std::uint32_t play = 0;
  a->getCurrentPosition(&play, nullptr);  // noticed at the next position read
  EXPECT_FALSE(out.output->active());
}

TEST(Mixer, ABlockWhoseLockIsHeldElsewhereIsSilenceAndCountsAnUnderrun) {
  Mixer mixer(48000, 64);
  std::vector<float> block(2 * 64, 0.5f);
  {
    Mixer::Guard held(mixer.mutex());
    std::thread audio([&] { mixer.render(block.data(), 64); });
    audio.join();  // render gave up instead of waiting for the lock
  }
  EXPECT_EQ(std::count(block.begin(), block.end(), 0.0f), 128);
  EXPECT_EQ(mixer.stats().underruns, 1u);
  mixer.render(block.data(), 64);
  EXPECT_EQ(mixer.stats().underruns, 1u);
  EXPECT_EQ(mixer.stats().blocks, 2u);
}

TEST(Mixer, PlayingBuffersCanBeReleasedWhileTheMixerRuns) {
  MemoryDevice out(48000, 256);
  testing::MixerThread mixer([&out] { out.render(256); });
  for (int round = 0; round < 200; ++round) {
    mixer.waitForABlock();
    auto plain = out.pcm16(std::vector<std::int16_t>(2 * 4096, 1000), 2, 48000);
    auto resampled = out.pcm16(std::vector<std::int16_t>(2 * 4096, 1000), 2, 22050);
    std::unique_ptr<SoundBuffer> copy;
    ASSERT_EQ(out.device->duplicateBuffer(*plain, copy), kOk);
    plain->play(PlayMode::Looping);
    resampled->play(PlayMode::Looping);
    copy->play(PlayMode::Once);
    mixer.waitForABlock();
    resampled->setFrequency(static_cast<std::uint32_t>(20000 + round * 10));
    if (round % 2) plain.reset();  // the original goes first, the copy keeps the memory
    copy.reset();
  }
  EXPECT_GT(out.device->stats().blocks, 0u);
}

}  // namespace
}  // namespace lunadio::soundout
