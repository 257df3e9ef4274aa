// Looping media players and the end-of-track callback.

#include <atomic>
#include <cmath>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "core/strings.h"
#include "media/media.h"
#include "media/media_internal.h"
#include "tests/media/media_test_support.h"

namespace lunadio::testing {
namespace {

constexpr std::intptr_t kOwner = 0x1234;

class MediaLoopTest : public MediaTest {
 protected:
  void TearDown() override {
    setMediaEndCallback({});
    MediaTest::TearDown();
  }
  // Six tenths of a second of one tone: a pass is short, the seams come quickly.
  static std::string shortTone() { return mp3Fixture("loop-tone", {{0.6, 441}}); }
};

TEST_F(MediaLoopTest, ALoopingPlayerReadsPositionsThroughEverySeamAndNeverTheEnd) {
  ASSERT_EQ(loadMedia(0, fromUtf8(shortTone())), 1);
  EXPECT_EQ(mediaLoop(0), 0) << "a load plays once";
  setMediaLoop(0, 1);
  EXPECT_EQ(mediaLoop(0), 1);
  ASSERT_EQ(playMedia(0, kOwner), 1);
  int seams = 0;
  MediaTime previous = 0;
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(2400);
  while (std::chrono::steady_clock::now() < until) {
    const MediaTime position = mediaStatus(0);
    ASSERT_GT(position, 0) << "after " << seams << " seams";
    if (position + kSecond / 4 < previous) ++seams;  // back near the start
    previous = position;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_GE(seams, 2) << "2.4 s of a 0.6 s track";
  EXPECT_LT(previous, kSecond) << "positions stay within one pass";
  EXPECT_EQ(mediaPlayerState(0), MediaPlaying);

  // Looping off: the pass under way is the last one.
  setMediaLoop(0, 0);
  EXPECT_TRUE(waitUntil([] { return mediaStatus(0) == 0; }, std::chrono::seconds(5)));
  EXPECT_EQ(mediaPlayerState(0), MediaStopped);
  setMediaLoop(7, 1);  // no such player
  EXPECT_EQ(mediaLoop(7), 0);
}

TEST_F(MediaLoopTest, TheSeamOfALoopIsNotSilent) {
  const std::string capturePath = fixtureDir() + "/loop-seam.raw";
  setenv("LUNADIO_MEDIA_SINK", captureSinkDescription(capturePath).c_str(), 1);
  ASSERT_EQ(loadMedia(0, fromUtf8(shortTone())), 1);
  setMediaLoop(0, 1);
  ASSERT_EQ(playMedia(0, kOwner), 1);
  EXPECT_EQ(mediaLargestOutputGap(0), 0);                        // the watch starts
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // two seams
  // In time: a seam whose running time jumps (an MP3's padding counted in the pass, say) is
  // silence on a sound card, though no silent sample is written.
  const MediaTime gap = mediaLargestOutputGap(0);
  EXPECT_LT(gap, kSecond / 1000) << "largest gap " << gap / 10 << " us";
  freeMedia(0);
  // In the samples: a 441 Hz tone at half scale is near zero for a sample or two at each
  // crossing; an encoder delay left in is 25 ms of silence.
  const Capture capture = readCapture(capturePath);
  ASSERT_GT(capture.frames(), static_cast<std::size_t>(kFixtureRate));
  std::size_t longestQuiet = 0;
  std::size_t quiet = 0;
  const std::size_t skip = kFixtureRate / 20;  // the encoder's ramp at the very start
  for (std::size_t frame = skip; frame < capture.frames(); ++frame) {
    quiet = std::abs(capture.samples[2 * frame]) < 200 ? quiet + 1 : 0;
    longestQuiet = std::max(longestQuiet, quiet);
  }
  EXPECT_LT(longestQuiet, static_cast<std::size_t>(kFixtureRate / 200))
      << "longest quiet run " << longestQuiet << " frames";
}

TEST_F(MediaLoopTest, ALoopingPlayerCanBeFreedStoppedOrSoughtAtAnyMoment) {
  // Every moment of a pass in turn, the seam included: a player that hung here would stop the run.
  for (int delayMs = 0; delayMs <= 660; delayMs += 60) {
    SCOPED_TRACE(delayMs);
    ASSERT_EQ(loadMedia(0, fromUtf8(shortTone())), 1);
    setMediaLoop(0, 1);
    ASSERT_EQ(playMedia(0, kOwner), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    switch (delayMs / 60 % 3) {
      case 0:
        seekMedia(0, kSecond / 2);
        EXPECT_GT(mediaStatus(0), 0);
        break;
      case 1:
        stopMedia(0);
        EXPECT_EQ(mediaStatus(0), 0);
        break;
      default:
        EXPECT_GT(mediaStatus(0), 0);
        break;
    }
    freeMedia(0);
  }
}

struct EndCalls {
  std::mutex mutex;
  std::vector<ObjectNumber> numbers;  // -- guarded by mutex
  std::atomic<int> fromMainThread{0};
  std::thread::id mainThread = std::this_thread::get_id();

  MediaEndCallback callback() {
    return [this](ObjectNumber number) {
      if (std::this_thread::get_id() == mainThread) ++fromMainThread;
      std::lock_guard<std::mutex> lock(mutex);
      numbers.push_back(number);
    };
  }
  std::vector<ObjectNumber> seen() {
    std::lock_guard<std::mutex> lock(mutex);
    return numbers;
  }
};

TEST_F(MediaLoopTest, TheEndCallbackWakesTheLoopFromAStreamingThread) {
  EndCalls calls;
  setMediaEndCallback(calls.callback());
  const std::int64_t id = loadMedia(ObjectAny, fromUtf8(shortTone()));
  ASSERT_NE(id, 0);
  const auto player = static_cast<ObjectNumber>(id);
  ASSERT_EQ(playMedia(player, kOwner), 1);
  // Nobody polls: the callback alone tells that the track has ended.
  ASSERT_TRUE(waitUntil([&] { return !calls.seen().empty(); }, std::chrono::seconds(5)));
  EXPECT_EQ(calls.seen(), std::vector<ObjectNumber>{player});
  EXPECT_EQ(calls.fromMainThread.load(), 0);
  EXPECT_EQ(mediaStatus(player), 0) << "the end is there to read once the callback came";

  // A looping player never ends; a removed callback is never called again.
  setMediaLoop(player, 1);
  ASSERT_EQ(playMedia(player, kOwner), 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_EQ(calls.seen().size(), 1u);
  setMediaEndCallback({});
  setMediaLoop(player, 0);
  EXPECT_TRUE(waitUntil([&] { return mediaStatus(player) == 0; }, std::chrono::seconds(5)));
  EXPECT_EQ(calls.seen().size(), 1u);
}

}  // namespace
}  // namespace lunadio::testing
