// What the players actually play, captured as raw samples at real-time pace.

#include <cmath>
#include <string>

#include <gtest/gtest.h>

#include "core/strings.h"
#include "media/media.h"
#include "tests/media/media_test_support.h"

namespace lunadio::testing {
namespace {

constexpr std::intptr_t kOwner = 0x1234;
constexpr std::size_t kTenthFrames = kFixtureRate / 10;

class MediaCaptureTest : public MediaTest {
 protected:
  // Loads `track` into player 0 with its sound written to a capture file.
  void loadCaptured(const std::string& track, const std::string& captureName) {
    capturePath_ = fixtureDir() + "/" + captureName + ".raw";
    setenv("LUNADIO_MEDIA_SINK", captureSinkDescription(capturePath_).c_str(), 1);
    ASSERT_EQ(loadMedia(0, fromUtf8(track)), 1);
  }
  // Frees the player (the capture is whole once its pipeline has closed) and reads it.
  Capture finishCapture() {
    freeMedia(0);
    return readCapture(capturePath_);
  }

  std::string capturePath_;
};

TEST_F(MediaCaptureTest, ResumeAfterASeekWhilePausedPlaysTheSoughtSound) {
  loadCaptured(twoToneTrack(), "seek-paused");
  ASSERT_EQ(playMedia(0, kOwner), 1);
  ASSERT_TRUE(waitForPosition(0, kSecond / 5));
  pauseMedia(0);
  seekMedia(0, 2 * kSecond + kSecond / 2);  // inside the 1320 Hz part
  ASSERT_TRUE(waitUntil([] { return mediaStatus(0) == -1; }));
  resumeMedia(0);
  ASSERT_TRUE(waitForPosition(0, 3 * kSecond));
  const Capture capture = finishCapture();
  // Everything played since the seek (about half a second) is the second tone: the resume went
  // on from the sought position, not from where the pause happened or from the start.
  ASSERT_GT(capture.frames(), 4 * kTenthFrames);
  for (std::size_t first = 0; first + kTenthFrames <= capture.frames(); first += kTenthFrames) {
    EXPECT_NEAR(toneHertz(capture, first, kTenthFrames), 1320, 40) << "at frame " << first;
  }
}

TEST_F(MediaCaptureTest, VolumeAndBalanceScaleTheSound) {
  const std::string track = twoToneTrack();
  const auto measure = [&](const char* name, int volume, int balance) {
    loadCaptured(track, name);
    setMediaVolume(0, volume, balance);
    EXPECT_EQ(playMedia(0, kOwner), 1);
    EXPECT_TRUE(waitForPosition(0, kSecond / 2));
    const Capture capture = finishCapture();
    struct Levels {
      double left, right;
    };
    // Skip the first tenth: the encoder's start-up frames ramp in.
    return Levels{channelRms(capture, 0, kTenthFrames, 3 * kTenthFrames),
                  channelRms(capture, 1, kTenthFrames, 3 * kTenthFrames)};
  };
  const auto full = measure("full", 100, 0);
  ASSERT_GT(full.left, 1000);
  EXPECT_NEAR(full.right / full.left, 1.0, 0.02);

  const auto half = measure("half", 50, 0);  // -603 hundredths of a decibel
  EXPECT_NEAR(half.left / full.left, 0.4995, 0.02);
  EXPECT_NEAR(half.right / full.right, 0.4995, 0.02);

  const auto right = measure("right", 100, 100);  // the left channel down by 100 dB
  EXPECT_LT(right.left, 2.0);
  EXPECT_NEAR(right.right / full.right, 1.0, 0.02);

  const auto leftish = measure("leftish", 100, -6);  // the right channel down by 6 dB
  EXPECT_NEAR(leftish.left / full.left, 1.0, 0.02);
  EXPECT_NEAR(leftish.right / full.right, 0.501, 0.02);

  const auto silent = measure("silent", -5, 0);  // clamped to 0: silence
  EXPECT_LT(silent.left, 1.0);
  EXPECT_LT(silent.right, 1.0);
}

}  // namespace
}  // namespace lunadio::testing
