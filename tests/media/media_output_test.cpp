// Where a player's sound goes when no sound server is reachable, and that the engine stays quiet
// on the terminal whatever it meets.

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "core/strings.h"
#include "media/media.h"
#include "tests/media/media_test_support.h"

namespace lunadio::testing {
namespace {

constexpr std::intptr_t kOwner = 0x1234;

TEST(MediaOutputTest, NoSoundServerFallsBackToSilenceAndSaysSo) {
  unsetenv("LUNADIO_MEDIA_SINK");
  setenv("PULSE_SERVER", "unix:/nonexistent/lunadio-no-server", 1);
  setenv("JACK_NO_START_SERVER", "1", 1);
  ASSERT_EQ(initMedia(), 1);
  EXPECT_EQ(mediaOutputIsSilent(), 0);  // nothing loaded yet

  const std::string track = mp3Fixture("short", {{0.5, 440}});
  ::testing::internal::CaptureStderr();
  const std::int64_t loaded = loadMedia(0, fromUtf8(track));
  const std::string chatter = ::testing::internal::GetCapturedStderr();
  ASSERT_EQ(loaded, 1);
  EXPECT_EQ(chatter, "");
  if (mediaOutput(0) == MediaOutput::Device) {
    endMedia();
    GTEST_SKIP() << "this machine has an audio output that works without a sound server";
  }
  EXPECT_EQ(mediaOutput(0), MediaOutput::Silent);
  EXPECT_EQ(mediaOutputIsSilent(), 1);
  // The fake output still keeps time, so the track plays and ends as usual.
  EXPECT_EQ(playMedia(0, kOwner), 1);
  EXPECT_TRUE(waitUntil([] { return mediaStatus(0) > 0; }));

  // An output chosen by description is the tester's business and changes nothing here.
  setenv("LUNADIO_MEDIA_SINK", "fakesink sync=true", 1);
  ASSERT_EQ(loadMedia(1, fromUtf8(track)), 1);
  EXPECT_EQ(mediaOutput(1), MediaOutput::Custom);
  EXPECT_EQ(mediaOutputIsSilent(), 1);
  endMedia();
  EXPECT_EQ(mediaOutputIsSilent(), 0);
}

TEST_F(MediaTest, BadFilesAndBrokenTracksWriteNothingToTheTerminal) {
  const std::string text = writeFixtureFile("words.mp3", "juste du texte\n");
  const std::string noise = writeFixtureFile("static.mp3", std::string(40000, '\x5A'));
  const std::string track = mp3Fixture("short", {{0.5, 440}});
  ::testing::internal::CaptureStderr();
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(loadMedia(1, fromUtf8(text)), 0);
  EXPECT_EQ(loadMedia(1, fromUtf8(noise)), 0);
  EXPECT_EQ(loadMedia(1, fromUtf8(fixtureDir() + "/nowhere.mp3")), 0);
  ASSERT_EQ(loadMedia(0, fromUtf8(track)), 1);
  playMedia(0, kOwner);
  seekMedia(0, 99 * kSecond);
  waitUntil([] { return mediaStatus(0) == 0; });
  freeMedia(ObjectAll);
  const std::string out = ::testing::internal::GetCapturedStdout();
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(out, "");
  EXPECT_EQ(err, "");
}

TEST_F(MediaTest, OutputThatFailsMidPlayReadsStoppedAndRecoversQuietly) {
  // Writes to /dev/full fail once filesink's buffer fills: an error in the middle of playback.
  setenv("LUNADIO_MEDIA_SINK", "audioconvert ! filesink location=/dev/full sync=true", 1);
  const std::string track = twoToneTrack();
  ::testing::internal::CaptureStderr();
  ASSERT_EQ(loadMedia(0, fromUtf8(track)), 1);
  setMediaVolume(0, 50, 0);
  ASSERT_EQ(playMedia(0, kOwner), 1);
  const bool stopped = waitUntil([] { return mediaStatus(0) == 0; });
  seekMedia(0, kSecond);  // a failed pipeline ignores everything but free and play
  pauseMedia(0);
  resumeMedia(0);
  const MediaTime afterFailure = mediaStatus(0);

  // The output works again: the player's restart builds the pipeline anew.
  setenv("LUNADIO_MEDIA_SINK", "fakesink sync=true", 1);
  const bool recovered = waitUntil([] { return playMedia(0, kOwner) == 1 && mediaStatus(0) > 0; });
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_TRUE(stopped);
  EXPECT_EQ(afterFailure, 0);
  EXPECT_TRUE(recovered);
  EXPECT_EQ(mediaOutput(0), MediaOutput::Custom);
  EXPECT_EQ(err, "");
}

}  // namespace
}  // namespace lunadio::testing
