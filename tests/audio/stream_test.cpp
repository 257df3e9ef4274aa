// Streamed sounds on the memory output: the ring refilled half by half, the end of a source,
// looping, restart, pause and resume, and freeing while the refill thread runs. The refill thread
// is awaited through the halves it has handed back to the ring, never through the clock: a half
// the decoder has filled plays only once it is unlocked.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

#include "audio/internal/sound_buffers.h"
#include "audio/internal/sound_record.h"
#include "audio/internal/stream_sound.h"
#include "audio/sound.h"
#include "audio/sound_device.h"
#include "audio/sound_loader.h"
#include "tests/audio/support/fixtures.h"
#include "tests/audio/support/sound_fixture.h"

namespace lunadio {
namespace {

using test::Bytes;
constexpr std::size_t kHalfFrames = kStreamHalfBytes / 4;
constexpr std::uint32_t kBlockFrames = 256;
// A buffer stopped while heard fades out over this many frames, mixed over what follows.
constexpr std::size_t kFadeFrames = 256;

// Wraps a real decoder and counts its reads; tells when it has been closed. Each read returns
// late, as on a loaded machine or under a sanitizer: the half it filled reaches the ring only
// after that, so a test that took the read for the refill would hear the old half.
class CountingDecoder final : public DecoderHandle {
 public:
  CountingDecoder(std::unique_ptr<DecoderHandle> inner, std::shared_ptr<std::atomic<bool>> closed)
      : inner_(std::move(inner)), closed_(std::move(closed)) {
    setFormat(inner_->channels(), inner_->frameCount(), inner_->sampleRate());
  }
  ~CountingDecoder() override { closed_->store(true); }
  std::int32_t read(std::uint8_t* destination, std::int32_t bytes, AtEnd atEnd) override {
    const auto got = inner_->read(destination, bytes, atEnd);
    reads.fetch_add(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return got;
  }
  void rewind() override { inner_->rewind(); }
  static inline std::atomic<int> reads{0};

 private:
  std::unique_ptr<DecoderHandle> inner_;
  std::shared_ptr<std::atomic<bool>> closed_;
};

bool eventually(const std::function<bool()>& condition) {
  for (int i = 0; i < 5000; ++i) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return false;
}

class StreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    clearSoundDecoders();
    useFlacDecoder();
    CountingDecoder::reads = 0;
  }
  // The streamed sound reads flac_ until it is freed: it goes first.
  void TearDown() override {
    freeSound(ObjectAll);
    clearSoundDecoders();
  }

  // A streamed sound on a FLAC of `frames` frames under number 0.
  void loadStreamed(std::size_t frames) {
    source_ = test::toInt16(test::makeSignal(frames, 2));
    flac_ = test::encodeFlac(test::makeSignal(frames, 2), {});
    auto decoder = openDecoderForMemory(flac_, LoadStreamed);
    ASSERT_TRUE(decoder);
    ASSERT_NE(loadStreamedSound(0, std::make_unique<CountingDecoder>(std::move(decoder), closed_)),
              0);
  }

  // Renders `frames` frames and returns the left channel as 16-bit values. A block that the mixer
  // wrote as silence because the refill thread held its lock (an underrun: nothing moved on) is
  // rendered again, so the result is what the sound plays, in order.
  std::vector<int> renderLeft(std::size_t frames) {
    std::vector<int> left;
    while (left.size() < frames) {
      const std::size_t step = std::min<std::size_t>(kBlockFrames, frames - left.size());
      const auto underrunsBefore = soundDevice()->stats().underruns;
      const auto stereo = device_.render(step);
      if (soundDevice()->stats().underruns != underrunsBefore) continue;
      for (std::size_t f = 0; f < step; ++f) {
        left.push_back(static_cast<int>(std::lround(stereo[2 * f] * 32768.0f)));
      }
    }
    return left;
  }

  int sourceLeft(std::size_t frame) const { return source_[2 * (frame % (source_.size() / 2))]; }

  SoundRecord& record() { return *soundTable()->lookup(0); }
  // Until `count` halves (playSound's first one included) are in the ring.
  bool waitForHalves(std::uint32_t count) {
    return eventually([&] { return record().streamHalvesFilled.load() >= count; });
  }

  // The image before the device: members go in reverse, so the device (which frees every sound
  // still there) goes before the image a streamed sound reads from.
  std::vector<std::int16_t> source_;
  Bytes flac_;
  testing::MemorySoundDevice device_{{.rateHz = 44100, .blockFrames = kBlockFrames}};
  std::shared_ptr<std::atomic<bool>> closed_ = std::make_shared<std::atomic<bool>>(false);
};

TEST_F(StreamTest, SourceShorterThanAHalfStopsByItself) {
  loadStreamed(4000);
  EXPECT_EQ(getSoundLength(0), -1);
  EXPECT_EQ(getSoundPosition(0), -1);
  EXPECT_EQ(getSoundFrequency(0), 0);
  EXPECT_EQ(playSound(0, 0), 0);
  ASSERT_TRUE(waitForHalves(2)) << "the refill thread found the source at its end";
  const auto heard = renderLeft(kHalfFrames);
  for (std::size_t f = 0; f < kHalfFrames; ++f) {
    ASSERT_EQ(heard[f], f < 4000 ? sourceLeft(f) : 0) << f;
  }
  // Into the silent half: the ring is stopped as soon as the thread sees it.
  renderLeft(256);
  ASSERT_TRUE(eventually([&] { return record().state.load() == SoundStopped; }));
  ASSERT_TRUE(eventually([&] { return record().streamThreadAlive.load() == 0; }));
  auto after = renderLeft(1000);
  EXPECT_TRUE(std::all_of(after.begin(), after.end(), [](int s) { return s == 0; }));
  // Resumed after its end, the ring has nothing left to play.
  resumeSound(0);
  after = renderLeft(2 * kHalfFrames);
  EXPECT_TRUE(std::all_of(after.begin(), after.end(), [](int s) { return s == 0; }));
}

TEST_F(StreamTest, LoopedStreamKeepsPlayingTheSourceRoundAndStopsWhenTold) {
  loadStreamed(5000);
  playSound(0, PlayLooped);
  std::size_t played = 0;
  ASSERT_TRUE(waitForHalves(2));
  // Each render plays one half-sized stretch once the thread has refilled the half it enters.
  for (int step = 0; step < 5; ++step) {
    const std::size_t frames = step == 0 ? kHalfFrames + 512 : kHalfFrames;
    const auto heard = renderLeft(frames);
    for (std::size_t f = 0; f < frames; ++f)
      ASSERT_EQ(heard[f], sourceLeft(played + f)) << played + f;
    played += frames;
    ASSERT_TRUE(waitForHalves(3u + static_cast<std::uint32_t>(step)));
  }
  EXPECT_EQ(record().state.load(), SoundPlaying);
  stopSound(0);
  EXPECT_TRUE(eventually([&] { return record().streamThreadAlive.load() == 0; }));
}

TEST_F(StreamTest, PlayAgainRestartsAndPauseResumeContinues) {
  loadStreamed(20000);
  playSound(0, 0);
  ASSERT_TRUE(waitForHalves(2));
  renderLeft(3000);
  playSound(0, 0);  // from the start again, with a fresh refill thread
  ASSERT_TRUE(waitForHalves(4));
  auto heard = renderLeft(1000);
  for (std::size_t f = kFadeFrames; f < 1000; ++f) ASSERT_EQ(heard[f], sourceLeft(f)) << f;

  pauseSound(0);
  heard = renderLeft(500);
  EXPECT_TRUE(std::all_of(heard.begin() + kFadeFrames, heard.end(), [](int s) { return s == 0; }));
  resumeSound(0);
  heard = renderLeft(1000);
  for (std::size_t f = 0; f < 1000; ++f) ASSERT_EQ(heard[f], sourceLeft(1000 + f)) << f;
}

TEST_F(StreamTest, FreeWhileStreamingReturnsOnceTheThreadHasEnded) {
  loadStreamed(50000);
  playSound(0, PlayLooped);
  ASSERT_TRUE(waitForHalves(2));
  renderLeft(kHalfFrames + 100);
  freeSound(0);
  EXPECT_TRUE(closed_->load()) << "the decoder is closed before freeSound returns";
  EXPECT_FALSE(isSound(0));
  const int reads = CountingDecoder::reads.load();
  renderLeft(kHalfFrames);
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(CountingDecoder::reads.load(), reads);
}

TEST_F(StreamTest, StreamedLoadsNeedADecoder) {
  useVorbisDecoder();
  const auto signal = test::makeSignal(3000, 2);
  test::TempFile wav(test::makeWav(test::toInt16(signal), 2, 44100), ".wav");
  EXPECT_EQ(loadSound(0, wav.path16(), LoadStreamed), 0) << "no decoder takes a wave file";
  test::TempFile flac(test::encodeFlac(signal, {}), ".flac");
  const ObjectNumber id = loadSound(ObjectAny, flac.path16(), LoadStreamed);
  ASSERT_NE(id, 0);
  EXPECT_TRUE(isSound(id));
  EXPECT_EQ(getSoundLength(id), -1);
  EXPECT_EQ(playSound(id, PlayLooped), 0);
  freeSound(id);
  EXPECT_FALSE(isSound(id));
}

}  // namespace
}  // namespace lunadio
