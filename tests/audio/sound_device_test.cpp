// Starting and ending the sound device.
#include <gtest/gtest.h>

#include "audio/internal/sound_buffers.h"
#include "audio/internal/sound_record.h"
#include "audio/sound.h"
#include "audio/sound_device.h"
#include "tests/audio/support/sound_fixture.h"

namespace lunadio {
namespace {

using testing::MemorySoundDevice;

TEST(SoundDevice, TheAttenuationTableHasItsExactEntries) {
  MemorySoundDevice device;
  const auto& table = attenuationTable();
  const std::pair<int, int> entries[] = {{0, 0},     {1, 6000},  {2, 6602},  {10, 8000},
                                         {50, 9397}, {90, 9908}, {99, 9991}, {100, 10000}};
  for (const auto& [volume, entry] : entries) EXPECT_EQ(table[volume], entry) << volume;
  for (int v = 2; v <= 100; ++v) EXPECT_LT(table[v - 1], table[v]) << v;
}

TEST(SoundDevice, ASecondInitReturnsTheSameValueAndTouchesNothing) {
  MemorySoundDevice device;
  ASSERT_NE(device.started(), 0);
  soundout::SoundDevice* first = soundDevice();
  ASSERT_TRUE(testing::installPcm16(3, std::vector<std::int16_t>(64), 2, 44100));
  EXPECT_EQ(initSound(), device.started());
  EXPECT_EQ(soundDevice(), first);
  EXPECT_EQ(isSound(3), 1);
}

TEST(SoundDevice, WithoutAnOutputInitFailsAndEverySoundOperationFindsNothing) {
  soundout::MemoryOutputOptions options;
  options.refuseOpen = true;
  MemorySoundDevice device(options);
  EXPECT_EQ(device.started(), 0);
  EXPECT_EQ(attenuationTable()[50], 9397);  // built all the same
  EXPECT_FALSE(createStaticBuffer(soundout::pcm16Format(2, 44100), 64));
  EXPECT_FALSE(testing::installPcm16(0, std::vector<std::int16_t>(64), 2, 44100));
  EXPECT_EQ(playSound(0, PlayLooped), 0);
  EXPECT_EQ(getSoundLength(0), -1);
  EXPECT_EQ(getSoundPosition(0), -1);
  EXPECT_EQ(getSoundFrequency(0), 0);
  freeSound(ObjectAll);
  stopSound(ObjectAll);
}

TEST(SoundDevice, AFailureAfterTheDeviceWasMadeLeavesTheEngineUnusable) {
  soundout::MemoryOutputOptions options;
  options.refusePrimary = true;
  MemorySoundDevice device(options);
  EXPECT_EQ(device.started(), 0);
  EXPECT_NE(soundDevice(), nullptr);
  EXPECT_EQ(initSound(), 0);
  EXPECT_EQ(soundTable(), nullptr);
}

TEST(SoundDevice, EndSoundFreesEverySound) {
  MemorySoundDevice device;
  ASSERT_TRUE(testing::installPcm16(0, std::vector<std::int16_t>(64), 2, 44100));
  ASSERT_TRUE(testing::installPcm16(ObjectAny, std::vector<std::int16_t>(64), 2, 44100));
  playSound(0, PlayLooped);
  endSound();
  EXPECT_EQ(isSound(0), 0);
  EXPECT_TRUE(soundTable()->liveIds().empty());
  EXPECT_EQ(soundDevice(), nullptr);
}

TEST(SoundDevice, StreamBuffersAre16BitPcmOfTheAskedShape) {
  MemorySoundDevice device;
  auto ring = createStreamBuffer(2, 22050, 65536);
  ASSERT_TRUE(ring);
  soundout::WaveFormat format;
  ring->getFormat(format);
  EXPECT_EQ(format, soundout::pcm16Format(2, 22050));
  EXPECT_EQ(format.avgBytesPerSec, 88200u);
  soundout::BufferCaps caps;
  ring->getCaps(caps);
  EXPECT_EQ(caps.bufferBytes, 65536u);
  EXPECT_EQ(caps.flags, 0x180E2u);
  EXPECT_FALSE(createStreamBuffer(0, 22050, 65536));
  EXPECT_FALSE(createStreamBuffer(9, 22050, 65536));
}

}  // namespace
}  // namespace lunadio
