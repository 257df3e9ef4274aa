// The SDL backend's idle life on SDL's dummy driver: paused shortly after the last sound stops,
// closed after a while of silence, opened again (at the same rate) by the next play.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <optional>
#include <thread>

#include "platform/soundout/sdl_output.h"
#include "tests/platform/soundout/output_fixture.h"

namespace lunadio::soundout {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

using testing::within;

struct SdlRig {
  explicit SdlRig(SdlIdleTimes times, DefaultOutputProbe probe = sdlDefaultOutputRateHz) {
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    output = std::make_shared<SdlOutput>(times, probe);
    EXPECT_EQ(createSoundDevice(output, device), kOk);
    if (!device) return;
    EXPECT_EQ(
        createPcm16Buffer(*device, 2, 44100,
                          SampleMemory::adopt(std::vector<std::int16_t>(2 * 4410, 3000)), buffer),
        kOk);
  }
  bool callbacksRun() {
    const std::uint64_t before = output->callbackBlocks();
    return within(milliseconds(5000), [&] { return output->callbackBlocks() > before + 2; });
  }
  std::shared_ptr<SdlOutput> output;
  std::unique_ptr<SoundDevice> device;
  std::unique_ptr<SoundBuffer> buffer;
};

TEST(SdlIdle, PausesAfterTheLastSoundClosesAfterSilenceAndReopensOnTheNextPlay) {
  SdlRig rig(SdlIdleTimes{milliseconds(40), milliseconds(300)});
  ASSERT_TRUE(rig.buffer);
  EXPECT_EQ(rig.output->deviceState(), SdlDeviceState::Paused) << "opened, nothing plays yet";
  const std::uint32_t rateHz = rig.device->outputRateHz();

  ASSERT_EQ(rig.buffer->play(PlayMode::Looping), kOk);
  EXPECT_EQ(rig.output->deviceState(), SdlDeviceState::Running);
  EXPECT_TRUE(rig.callbacksRun());

  ASSERT_EQ(rig.buffer->stop(), kOk);
  EXPECT_TRUE(within(milliseconds(5000),
                     [&] { return rig.output->deviceState() != SdlDeviceState::Running; }));
  // Paused or already closed: either way SDL asks for no more blocks.
  const std::uint64_t pausedAt = rig.output->callbackBlocks();
  std::this_thread::sleep_for(milliseconds(60));
  EXPECT_LE(rig.output->callbackBlocks(), pausedAt + 1) << "at most a block already underway";

  EXPECT_TRUE(within(milliseconds(5000),
                     [&] { return rig.output->deviceState() == SdlDeviceState::Closed; }));
  EXPECT_EQ(rig.output->deviceOpens(), 1u);

  ASSERT_EQ(rig.buffer->play(PlayMode::Looping), kOk);
  EXPECT_EQ(rig.output->deviceState(), SdlDeviceState::Running) << "the play itself reopens";
  EXPECT_EQ(rig.output->deviceOpens(), 2u);
  EXPECT_EQ(rig.device->outputRateHz(), rateHz);
  EXPECT_TRUE(rig.callbacksRun()) << "the reopened device renders again";
}

TEST(SdlIdle, APlayWhilePausedResumesTheOpenDevice) {
  SdlRig rig(SdlIdleTimes{milliseconds(20), milliseconds(60000)});
  ASSERT_TRUE(rig.buffer);
  ASSERT_EQ(rig.buffer->play(PlayMode::Looping), kOk);
  ASSERT_EQ(rig.buffer->stop(), kOk);
  ASSERT_TRUE(within(milliseconds(5000),
                     [&] { return rig.output->deviceState() == SdlDeviceState::Paused; }));
  ASSERT_EQ(rig.buffer->play(PlayMode::Once), kOk);
  EXPECT_EQ(rig.output->deviceState(), SdlDeviceState::Running);
  EXPECT_EQ(rig.output->deviceOpens(), 1u) << "resumed, not reopened";
  EXPECT_TRUE(rig.callbacksRun());
}

TEST(SdlIdle, TheDefaultTimesPauseAtOnceAndCloseOnlyAfterThreeSeconds) {
  SdlRig rig(SdlIdleTimes{});
  ASSERT_TRUE(rig.buffer);
  ASSERT_EQ(rig.buffer->play(PlayMode::Looping), kOk);
  ASSERT_EQ(rig.buffer->stop(), kOk);
  const auto stopped = Clock::now();
  EXPECT_TRUE(within(milliseconds(2500),
                     [&] { return rig.output->deviceState() == SdlDeviceState::Paused; }));
  // A busy machine only makes the close later, never earlier.
  std::this_thread::sleep_until(stopped + milliseconds(2700));
  EXPECT_EQ(rig.output->deviceState(), SdlDeviceState::Paused) << "still open before 3 s";
  EXPECT_TRUE(within(milliseconds(5000),
                     [&] { return rig.output->deviceState() == SdlDeviceState::Closed; }));
}

// A sound server names its default output; the dummy driver cannot, so the probe stands in.
TEST(SdlIdle, ABackendThatNamesItsDefaultOutputOpensTheDeviceOnlyWithTheFirstSound) {
  SdlRig rig(SdlIdleTimes{milliseconds(40), milliseconds(300)},
             [] { return std::optional<int>(32000); });
  ASSERT_TRUE(rig.buffer);
  EXPECT_EQ(rig.output->deviceState(), SdlDeviceState::Closed)
      << "no device playing silence ahead of the first sound";
  EXPECT_EQ(rig.output->deviceOpens(), 0u);
  EXPECT_EQ(rig.device->outputRateHz(), 32000u) << "the mixer runs at the output's own rate";

  ASSERT_EQ(rig.buffer->play(PlayMode::Looping), kOk);
  EXPECT_EQ(rig.output->deviceState(), SdlDeviceState::Running);
  EXPECT_EQ(rig.output->deviceOpens(), 1u);
  EXPECT_TRUE(rig.callbacksRun());
  EXPECT_EQ(rig.device->outputRateHz(), 32000u);

  // From here on the idle life is the usual one.
  ASSERT_EQ(rig.buffer->stop(), kOk);
  EXPECT_TRUE(within(milliseconds(5000),
                     [&] { return rig.output->deviceState() == SdlDeviceState::Closed; }));
  ASSERT_EQ(rig.buffer->play(PlayMode::Looping), kOk);
  EXPECT_EQ(rig.output->deviceOpens(), 2u);
  EXPECT_TRUE(rig.callbacksRun());
}

TEST(SdlIdle, ABackendThatCannotNameItsOutputIsTestedByOpeningIt) {
  SdlRig rig(SdlIdleTimes{}, [] { return std::optional<int>(); });
  ASSERT_TRUE(rig.buffer);
  EXPECT_EQ(rig.output->deviceState(), SdlDeviceState::Paused);
  EXPECT_EQ(rig.output->deviceOpens(), 1u);
}

}  // namespace
}  // namespace lunadio::soundout
