// The SDL backend on SDL's dummy driver (no sound hardware needed): it opens, the mixer runs in
// SDL's callback, and buffers can come and go while it does.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "tests/platform/soundout/output_fixture.h"

namespace lunadio::soundout {
namespace {

TEST(SdlOutput, PlaysThroughSdlsCallbackAndReleasesBuffersWhileItRuns) {
  setenv("SDL_AUDIODRIVER", "dummy", 0);
  std::unique_ptr<SoundDevice> device;
  ASSERT_EQ(createDefaultSoundDevice(device), kOk);
  EXPECT_GT(device->outputRateHz(), 0u);
  EXPECT_GT(device->blockFrames(), 0u);

  std::unique_ptr<SoundBuffer> buffer;
  ASSERT_EQ(
      createPcm16Buffer(*device, 2, 44100,
                        SampleMemory::adopt(std::vector<std::int16_t>(2 * 4410, 3000)), buffer),
      kOk);
  device->markPlayStart();
  ASSERT_EQ(buffer->play(PlayMode::Looping), kOk);
  // Not a timing check: a generous bound so that a broken callback fails instead of hanging.
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (device->stats().firstAudibleNs == 0 && std::chrono::steady_clock::now() < giveUp) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_NE(device->stats().firstAudibleNs, 0);

  for (int round = 0; round < 20; ++round) {
    std::unique_ptr<SoundBuffer> copy;
    ASSERT_EQ(device->duplicateBuffer(*buffer, copy), kOk);
    copy->setFrequency(22050 + 1000 * round);
    copy->play(PlayMode::Looping);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  buffer->stop();
  buffer->play(PlayMode::Looping);
  device.reset();  // the device closes under a playing buffer, which stays valid and silent
  EXPECT_EQ(buffer->stop(), kOk);
}

}  // namespace
}  // namespace lunadio::soundout
