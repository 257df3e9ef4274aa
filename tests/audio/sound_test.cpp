// The sound table and the playback controls, on the memory output at 48 kHz.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>

#include "audio/internal/sound_buffers.h"
#include "audio/internal/sound_record.h"
#include "audio/sound.h"
#include "audio/sound_device.h"
#include "tests/audio/support/sound_fixture.h"

namespace lunadio {
namespace {

using testing::installPcm16;
using testing::makePcm16;
using testing::MemorySoundDevice;

// Stereo 16-bit at 48 kHz whose left sample is the frame number, so a render shows the cursor.
std::vector<std::int16_t> countingPcm(std::size_t frames) {
  return makePcm16(frames, 2, [](std::size_t f, int) { return static_cast<std::int16_t>(f); });
}

int firstFrameHeard(const std::vector<float>& stereo) {
  return static_cast<int>(std::lround(stereo[0] * 32768.0f));
}

// A stop, pause or restart fades the old sound out over its first 256 frames; after that only the
// sound itself is heard.
int frameHeardAfterFadeOut(const std::vector<float>& stereo) {
  return static_cast<int>(std::lround(stereo[2 * 300] * 32768.0f)) - 300;
}

soundout::SoundBuffer& bufferOf(ObjectNumber number) {
  return *soundTable()->lookup(number)->buffer;
}

std::uint32_t playBytes(ObjectNumber number) {
  std::uint32_t bytes = 0;
  bufferOf(number).getCurrentPosition(&bytes, nullptr);
  return bytes;
}

class SoundTest : public ::testing::Test {
 protected:
  MemorySoundDevice device_;
};

TEST_F(SoundTest, LengthAndPositionFollowTheUnitAndTheCurrentFrequency) {
  // 16-bit stereo at 44100 Hz, 1,764,000 bytes.
  ASSERT_TRUE(installPcm16(0, std::vector<std::int16_t>(882000), 2, 44100));
  EXPECT_EQ(getSoundLength(0), 441000);
  EXPECT_EQ(getSoundLength(0, UnitMilliseconds), 10000);
  EXPECT_EQ(getSoundLength(0, static_cast<SoundUnit>(2)), 441000);  // any other unit reads frames

  setSoundPosition(0, 44100);
  EXPECT_EQ(playBytes(0), 176400u);
  EXPECT_EQ(getSoundPosition(0), 44100);
  EXPECT_EQ(getSoundPosition(0, UnitMilliseconds), 1000);
  EXPECT_EQ(getSoundPosition(0, static_cast<SoundUnit>(2)), 1000);  // other units read ms
  setSoundPosition(0, 500, UnitMilliseconds);
  EXPECT_EQ(playBytes(0), 88200u);

  setSoundFrequency(0, 22050);
  EXPECT_EQ(getSoundFrequency(0), 22050);
  EXPECT_EQ(getSoundLength(0, UnitMilliseconds), 20000);
  EXPECT_EQ(getSoundPosition(0, UnitMilliseconds), 1000);
  setSoundFrequency(0, 0);
  EXPECT_EQ(getSoundFrequency(0), 44100);

  setSoundPosition(0, -1);  // refused by the buffer: the cursor stays
  EXPECT_EQ(playBytes(0), 88200u);
}

TEST_F(SoundTest, VolumeIsClampedAndTurnedIntoAttenuation) {
  ASSERT_TRUE(installPcm16(0, std::vector<std::int16_t>(64), 2, 48000));
  const std::pair<int, std::int32_t> cases[] = {{150, 0},    {100, 0},   {-5, -10000},
                                                {0, -10000}, {50, -603}, {1, -4000}};
  for (const auto& [volume, hundredthsDb] : cases) {
    setSoundVolume(0, volume);
    std::int32_t applied = 1;
    bufferOf(0).getVolume(applied);
    EXPECT_EQ(applied, hundredthsDb) << "volume " << volume;
  }
}

TEST_F(SoundTest, PlayRestartsAndPauseResumeContinuesWhileStopResumeStartsOver) {
  ASSERT_TRUE(installPcm16(0, countingPcm(20000), 2, 48000));
  EXPECT_EQ(playSound(0, PlayLooped), 1);
  device_.render(1000);
  EXPECT_EQ(getSoundPosition(0), 1000);

  EXPECT_EQ(playSound(0, PlayLooped), 1);  // already playing: from the start again
  EXPECT_EQ(frameHeardAfterFadeOut(device_.render(500)), 0);

  pauseSound(0);
  EXPECT_EQ(soundTable()->lookup(0)->state.load(), SoundPaused);
  EXPECT_EQ(device_.render(300)[2 * 299], 0.0f);
  resumeSound(0);
  EXPECT_EQ(firstFrameHeard(device_.render(400)), 500);

  stopSound(0);
  EXPECT_EQ(soundTable()->lookup(0)->state.load(), SoundStopped);
  EXPECT_EQ(getSoundPosition(0), 0);
  resumeSound(0);
  EXPECT_EQ(soundTable()->lookup(0)->state.load(), SoundPlaying);
  EXPECT_EQ(frameHeardAfterFadeOut(device_.render(400)), 0);
}

TEST_F(SoundTest, ResumeKeepsTheLoopingOfTheLastPlay) {
  ASSERT_TRUE(installPcm16(0, countingPcm(1000), 2, 48000));
  playSound(0, 0);
  device_.render(300);
  pauseSound(0);
  resumeSound(0);
  device_.render(2000);
  EXPECT_EQ(getSoundPosition(0), 1000);                            // ran out once, at its end
  EXPECT_EQ(soundTable()->lookup(0)->state.load(), SoundPlaying);  // as recorded

  playSound(0, PlayLooped);
  device_.render(300);
  pauseSound(0);
  resumeSound(0);
  device_.render(2000);
  EXPECT_EQ(getSoundPosition(0), 300);  // 2300 frames into a 1000-frame loop
}

TEST_F(SoundTest, InstancesPlayAlongsideAndOnlyStoppedOnesArePruned) {
  ASSERT_TRUE(installPcm16(0, countingPcm(10000), 2, 48000));
  const SoundInstanceHandle a = playSound(0, PlayNewInstance | PlayLooped);
  const SoundInstanceHandle b = playSound(0, PlayNewInstance | PlayLooped);
  const SoundInstanceHandle c = playSound(0, PlayNewInstance | PlayLooped);
  EXPECT_NE(a, 0);
  EXPECT_NE(a, b);
  EXPECT_NE(b, c);
  EXPECT_NE(a, c);
  SoundRecord& record = *soundTable()->lookup(0);
  EXPECT_EQ(record.state.load(), SoundStopped);  // the sound's own buffer is not touched
  device_.render(100);
  EXPECT_EQ(getSoundPosition(0, UnitFrames, b), 100);
  EXPECT_EQ(getSoundPosition(0), 0);

  stopSound(0, b);
  pauseSound(0, c);
  const SoundInstanceHandle d = playSound(0, PlayNewInstance);
  ASSERT_EQ(record.instances.size(), 3u);
  std::vector<SoundInstanceHandle> left;
  for (const SoundInstance& instance : record.instances) left.push_back(instance.handle);
  EXPECT_EQ(left, (std::vector<SoundInstanceHandle>{d, c, a}));  // newest first, b gone
  EXPECT_EQ(getSoundPosition(0, UnitFrames, b), -1);
  EXPECT_EQ(getSoundFrequency(0, b), 0);
  stopSound(0, b);  // a stale handle names nothing: the sound's own state stays
  pauseSound(0);
  stopSound(0, b);
  EXPECT_EQ(record.state.load(), SoundPaused);
}

TEST_F(SoundTest, ANewInstanceTakesTheValuesTheSoundWasLoadedWith) {
  ASSERT_TRUE(installPcm16(0, countingPcm(10000), 2, 44100));
  setSoundFrequency(0, 22050);
  setSoundVolume(0, 10);
  const SoundInstanceHandle plain = playSound(0, PlayNewInstance);
  const SoundInstanceHandle quiet = playSound(0, PlayNewInstance, 50);
  EXPECT_EQ(getSoundFrequency(0, plain), 44100);
  EXPECT_EQ(getSoundFrequency(0), 22050);
  std::int32_t volume = 1;
  for (const SoundInstance& instance : soundTable()->lookup(0)->instances) {
    instance.buffer->getVolume(volume);
    EXPECT_EQ(volume, instance.handle == quiet ? -603 : 0);
  }
}

TEST_F(SoundTest, AllInstancesAndObjectAllReachEveryBuffer) {
  ASSERT_TRUE(installPcm16(0, countingPcm(1000), 2, 48000));
  ASSERT_TRUE(installPcm16(1, countingPcm(1000), 2, 48000));
  playSound(0, PlayLooped);
  playSound(1, PlayLooped);
  const SoundInstanceHandle extra = playSound(1, PlayNewInstance | PlayLooped);
  setSoundVolume(ObjectAll, 50);
  std::int32_t volume = 0;
  soundTable()->lookup(1)->instances.front().buffer->getVolume(volume);
  EXPECT_EQ(volume, -603);
  setSoundFrequency(1, 24000, AllInstances);
  EXPECT_EQ(getSoundFrequency(1, extra), 24000);
  stopSound(ObjectAll);
  EXPECT_FALSE(device_.output().active());
  EXPECT_EQ(soundTable()->lookup(1)->instances.front().state, SoundStopped);
  resumeSound(ObjectAll);
  EXPECT_TRUE(device_.output().active());
}

TEST_F(SoundTest, AFreedOrMissingSoundGivesTheMissingResults) {
  ASSERT_TRUE(installPcm16(4, countingPcm(100), 2, 48000));
  freeSound(4);
  for (ObjectNumber number : {4, 5, -1, 70000, kFirstDynamicId + 99}) {
    SCOPED_TRACE(number);
    EXPECT_EQ(isSound(number), 0);
    EXPECT_EQ(playSound(number, PlayLooped), 0);
    EXPECT_EQ(getSoundFrequency(number), 0);
    EXPECT_EQ(getSoundPosition(number), -1);
    EXPECT_EQ(getSoundLength(number), -1);
    setSoundPosition(number, 10);
    setSoundVolume(number, 10);
    stopSound(number);
  }
  freeSound(ObjectAll);
  freeSound(ObjectAll);
}

TEST_F(SoundTest, InstallingUnderAUsedNumberReplacesOnlyOnSuccess) {
  ASSERT_TRUE(installPcm16(0, countingPcm(100), 2, 48000));
  EXPECT_FALSE(installStaticSound(0, nullptr));
  EXPECT_EQ(isSound(0), 1);
  EXPECT_FALSE(createStaticBuffer(soundout::pcm16Format(9, 48000), 64));  // refused format
  ASSERT_TRUE(installPcm16(0, countingPcm(300), 2, 48000));
  EXPECT_EQ(getSoundLength(0), 300);
  const auto dynamic = installPcm16(ObjectAny, countingPcm(200), 2, 48000);
  ASSERT_TRUE(dynamic);
  EXPECT_GE(*dynamic, kFirstDynamicId);
  EXPECT_EQ(getSoundLength(*dynamic), 200);
}

TEST_F(SoundTest, TwoSoundsShareOneDecodeWithTheirOwnCursors) {
  auto memory = soundout::SampleMemory::adopt(countingPcm(5000));
  const soundout::WaveFormat format = soundout::pcm16Format(2, 48000);
  ASSERT_TRUE(installStaticSound(1, createStaticBuffer(format, 20000, memory)));
  ASSERT_TRUE(installStaticSound(0, createStaticBuffer(format, 20000, memory)));
  memory.reset();
  playSound(1, 0);
  device_.render(700);
  setSoundVolume(1, 0);
  device_.render(512);  // the volume change has ramped out
  playSound(0, 0);
  EXPECT_EQ(firstFrameHeard(device_.render(10)), 0);
  EXPECT_EQ(getSoundPosition(1), 1222);
  freeSound(1);
  EXPECT_EQ(firstFrameHeard(device_.render(10)), 10);
}

TEST_F(SoundTest, SoundsCanBeFreedAndReplacedWhileTheMixerPlaysThem) {
  std::atomic<bool> done{false};
  std::atomic<int> blocks{0};
  std::thread audio([&] {
    while (!done.load()) {
      device_.render(256);
      ++blocks;
    }
  });
  for (int round = 0; round < 100; ++round) {
    const int seen = blocks.load();
    while (blocks.load() == seen) std::this_thread::yield();
    ASSERT_TRUE(installPcm16(0, countingPcm(2000), 2, round % 2 ? 44100 : 48000));
    playSound(0, PlayLooped);
    playSound(0, PlayNewInstance);
    setSoundFrequency(0, 30000 + round * 100, AllInstances);
    if (round % 3 == 0) freeSound(0);
  }
  done = true;
  audio.join();
}

}  // namespace
}  // namespace lunadio
