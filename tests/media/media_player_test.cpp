#include <sys/stat.h>
#include <sys/wait.h>

#include <filesystem>
#include <string>

#include <gst/gst.h>
#include <gtest/gtest.h>

#include "core/lifecycle.h"
#include "core/strings.h"
#include "media/media.h"
#include "media/media_internal.h"
#include "tests/media/media_test_support.h"

namespace lunadio::testing {
namespace {

std::u16string u16(const std::string& path) { return fromUtf8(path); }

constexpr std::intptr_t kOwner = 0x1234;

TEST(MediaLifecycle, EndWithoutStartDoesNothingAndStartIsRepeatable) {
  setenv("LUNADIO_MEDIA_SINK", "fakesink sync=true", 1);
  endMedia();
  const std::string track = mp3Fixture("short", {{0.5, 440}});
  EXPECT_EQ(loadMedia(0, u16(track)), 0);  // not started: no table
  EXPECT_EQ(isMedia(0), 0);

  ASSERT_EQ(initMedia(), 1);
  EXPECT_EQ(initMedia(), 1);
  ASSERT_EQ(loadMedia(0, u16(track)), 1);
  endMedia();  // frees the player
  EXPECT_EQ(isMedia(0), 0);
  endMedia();

  ASSERT_EQ(initMedia(), 1);  // a new start after an end works again
  EXPECT_EQ(loadMedia(0, u16(track)), 1);
  endMedia();
}

TEST(MediaLifecycle, ProgramEndFreesEveryPlayer) {
  setenv("LUNADIO_MEDIA_SINK", "fakesink sync=true", 1);
  clearLifecycle();
  registerMediaLifecycle();
  ASSERT_EQ(initMedia(), 1);
  const std::string track = mp3Fixture("short", {{0.5, 440}});
  ASSERT_EQ(loadMedia(0, u16(track)), 1);
  ASSERT_EQ(playMedia(0, kOwner), 1);
  runEndSequence();
  EXPECT_EQ(isMedia(0), 0);
  EXPECT_EQ(loadMedia(0, u16(track)), 0);  // the engine has ended
  clearLifecycle();
}

TEST(MediaLifecycle, BrokenOutputDescriptionRefusesToStart) {
  setenv("LUNADIO_MEDIA_SINK", "no-such-element-anywhere ! fakesink", 1);
  EXPECT_EQ(initMedia(), 0);
  setenv("LUNADIO_MEDIA_SINK", "fakesink sync=true", 1);
  EXPECT_EQ(initMedia(), 1);  // a failed start can be retried
  endMedia();
}

// prepareMedia makes the check in a child process; its answer must be the one the check made here
// gives, GStreamer must not start here before the first load, and a start from it must load and
// play. Each case runs in a fresh process, where GStreamer has not started yet.
void preparedStart(const char* sink, int expected) {
  setenv("LUNADIO_MEDIA_SINK", sink, 1);
  prepareMedia();
  if (initMedia() != expected) std::_Exit(1);
  if (gst_is_initialized()) std::_Exit(2);  // the registry was read here after all
  const std::string track = mp3Fixture("short", {{0.5, 440}});
  if (expected && (loadMedia(0, u16(track)) != 1 || playMedia(0, kOwner) != 1)) std::_Exit(3);
  endMedia();
  if (waitpid(-1, nullptr, WNOHANG) != -1) std::_Exit(4);  // a child was left behind
  std::_Exit(0);
}

TEST(MediaLifecycle, ThePreparedCheckAnswersAsTheCheckHere) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // The answers of the check made here (BrokenOutputDescriptionRefusesToStart).
  const std::pair<const char*, int> cases[] = {{"no-such-element-anywhere ! fakesink", 0},
                                               {"fakesink sync=true", 1}};
  for (const auto& [sink, expected] : cases) {
    EXPECT_EXIT(preparedStart(sink, expected), ::testing::ExitedWithCode(0), "") << sink;
  }
}

TEST_F(MediaTest, UnplayableFilesFailAndLeaveNoPlayer) {
  const std::string good = mp3Fixture("short", {{0.5, 440}});
  std::string noise(200000, '\0');
  for (std::size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>((i * 7919 + 13) >> 3);
  const std::string fifo = fixtureDir() + "/pipe.mp3";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::string cutHeader =
      std::string("ID3\x03\x00\x00\x00\x00\x00\x10", 10) + std::string(3000, '\xAA');
  struct Case {
    const char* what;
    std::string path;
  };
  const Case cases[] = {
      {"text named .mp3", writeFixtureFile("notes.mp3", "Ceci n'est pas une musique.\n")},
      {"noise named .mp3", writeFixtureFile("noise.mp3", noise)},
      {"zeros named .mp3", writeFixtureFile("zeros.mp3", std::string(50000, '\0'))},
      {"tag without audio", writeFixtureFile("tagonly.mp3", cutHeader)},
      {"empty file", writeFixtureFile("empty.mp3", "")},
      {"missing file", fixtureDir() + "/absent.mp3"},
      {"folder", fixtureDir()},
      {"device", "/dev/zero"},
      {"pipe", fifo},
      {"empty path", ""},
      {"path cut by a NUL", good + std::string(1, '\0') + "ignored"},
  };
  for (const Case& c : cases) {
    // A live player under the number is replaced, so a failed load leaves the number empty.
    ASSERT_EQ(loadMedia(1, u16(good)), 1);
    EXPECT_EQ(loadMedia(1, u16(c.path)), 0) << c.what;
    EXPECT_EQ(isMedia(1), 0) << c.what;
    EXPECT_EQ(loadMedia(ObjectAny, u16(c.path)), 0) << c.what;
  }
}

TEST_F(MediaTest, NumbersWithoutPlayerDoNothing) {
  const std::string track = mp3Fixture("short", {{0.5, 440}});
  const std::int64_t dynamic = loadMedia(ObjectAny, u16(track));
  ASSERT_GE(dynamic, kFirstDynamicId);
  freeMedia(static_cast<ObjectNumber>(dynamic));
  for (ObjectNumber number :
       {0, 7, 5000, -5, kFirstDynamicId + 999, static_cast<ObjectNumber>(dynamic)}) {
    pauseMedia(number);
    resumeMedia(number);
    seekMedia(number, kSecond);
    stopMedia(number);
    setMediaVolume(number, 50, 0);
    freeMedia(number);
    EXPECT_EQ(isMedia(number), 0) << number;
    EXPECT_EQ(mediaStatus(number), 0) << number;
    EXPECT_EQ(playMedia(number, kOwner), 0) << number;
    EXPECT_EQ(resizeMedia(number, 10, 10, 0, 0), 0) << number;
    EXPECT_EQ(mediaWidth(number), 0) << number;
    EXPECT_EQ(mediaHeight(number), 0) << number;
    EXPECT_EQ(mediaOutput(number), MediaOutput::None) << number;
    EXPECT_EQ(mediaLength(number), 0) << number;
  }
}

// The duration is known from the stream before anything has played, so a progress bar and a
// seek work during the first play of a track.
TEST_F(MediaTest, LengthIsKnownBeforePlaying) {
  ASSERT_EQ(loadMedia(0, u16(twoToneTrack())), 1);
  const MediaTime length = mediaLength(0);
  EXPECT_GT(length, 39 * kSecond / 10);
  EXPECT_LT(length, 42 * kSecond / 10);
}

TEST_F(MediaTest, LoadedTrackIsAudioOnlyAndStopped) {
  const std::string track = mp3Fixture("short", {{0.5, 440}});
  ASSERT_EQ(loadMedia(2, u16(track)), 1);
  EXPECT_EQ(isMedia(2), 1);
  EXPECT_EQ(mediaWidth(2), -1);
  EXPECT_EQ(mediaHeight(2), -1);
  EXPECT_EQ(resizeMedia(2, 10, 10, 0, 0), -1);
  EXPECT_EQ(mediaFileName(2), u16(track));
  EXPECT_EQ(mediaPlayerState(2), MediaStopped);
  EXPECT_EQ(mediaStatus(2), 0);
  EXPECT_EQ(mediaOutput(2), MediaOutput::Custom);
  pauseMedia(2);  // nothing happens while stopped
  resumeMedia(2);
  EXPECT_EQ(mediaPlayerState(2), MediaStopped);
  EXPECT_EQ(mediaStatus(2), 0);
}

TEST_F(MediaTest, PathsThatAreNotUtf8StillLoad) {
  const std::string original = mp3Fixture("short", {{0.5, 440}});
  const std::string odd = fixtureDir() + "/chanson \xE9t\xE9 #1.mp3";  // Latin-1 bytes
  std::filesystem::copy_file(original, odd);
  const std::u16string path = fromUtf8(odd);
  ASSERT_EQ(loadMedia(0, path), 1);
  EXPECT_EQ(mediaFileName(0), path);
}

TEST_F(MediaTest, DynamicPlayersAndFreeAll) {
  const std::string track = mp3Fixture("short", {{0.5, 440}});
  const std::int64_t first = loadMedia(ObjectAny, u16(track));
  const std::int64_t second = loadMedia(ObjectAny, u16(track));
  ASSERT_GE(first, kFirstDynamicId);
  ASSERT_GE(second, kFirstDynamicId);
  EXPECT_NE(first, second);
  ASSERT_EQ(loadMedia(3, u16(track)), 1);
  EXPECT_EQ(playMedia(static_cast<ObjectNumber>(second), kOwner), 1);
  freeMedia(ObjectAll);
  EXPECT_EQ(isMedia(static_cast<ObjectNumber>(first)), 0);
  EXPECT_EQ(isMedia(static_cast<ObjectNumber>(second)), 0);
  EXPECT_EQ(isMedia(3), 0);
}

TEST_F(MediaTest, PausedReadsMinusOneAndASeekKeepsItPaused) {
  ASSERT_EQ(loadMedia(0, u16(twoToneTrack())), 1);
  ASSERT_EQ(playMedia(0, kOwner), 1);
  ASSERT_TRUE(waitForPosition(0, kSecond / 10));
  pauseMedia(0);
  EXPECT_EQ(mediaStatus(0), -1);
  EXPECT_EQ(mediaPlayerState(0), MediaPaused);

  seekMedia(0, 2 * kSecond + kSecond / 2);
  EXPECT_EQ(mediaStatus(0), -1);
  // The pipeline settles at the target without playing on.
  EXPECT_TRUE(waitUntil([] { return mediaPipelinePosition(0) == 2 * kSecond + kSecond / 2; }))
      << mediaPipelinePosition(0);
  EXPECT_EQ(mediaStatus(0), -1);
  EXPECT_EQ(mediaPlayerState(0), MediaPaused);

  resumeMedia(0);
  const MediaTime resumed = mediaStatus(0);
  EXPECT_GE(resumed, 2 * kSecond + kSecond / 2);
  EXPECT_TRUE(waitForPosition(0, 2 * kSecond + kSecond * 7 / 10));
  EXPECT_EQ(mediaPlayerState(0), MediaPlaying);
}

TEST_F(MediaTest, SeekWhilePlayingPlaysOnFromThere) {
  ASSERT_EQ(loadMedia(0, u16(twoToneTrack())), 1);
  ASSERT_EQ(playMedia(0, kOwner), 1);
  ASSERT_TRUE(waitForPosition(0, kSecond / 10));
  seekMedia(0, 3 * kSecond);
  // Never 0 while the seek settles: 0 would read as the end of the track.
  const MediaTime right = mediaStatus(0);
  EXPECT_GE(right, 3 * kSecond);
  EXPECT_TRUE(waitForPosition(0, 3 * kSecond + kSecond / 5));
  EXPECT_EQ(mediaPlayerState(0), MediaPlaying);
}

TEST_F(MediaTest, TrackEndReadsZeroOnceThenStaysStoppedAndRewound) {
  ASSERT_EQ(loadMedia(0, u16(mp3Fixture("short", {{0.5, 440}}))), 1);
  ASSERT_EQ(playMedia(0, kOwner), 1);
  MediaTime last = 0;
  int positives = 0;
  ASSERT_TRUE(waitUntil([&] {
    last = mediaStatus(0);
    if (last > 0) ++positives;
    return last <= 0;
  }));
  EXPECT_EQ(last, 0);
  EXPECT_GT(positives, 0);  // it did play before it ended
  EXPECT_EQ(mediaPlayerState(0), MediaStopped);
  EXPECT_TRUE(waitUntil([] { return mediaPipelinePosition(0) == 0; })) << mediaPipelinePosition(0);
  EXPECT_EQ(mediaStatus(0), 0);
  resumeMedia(0);  // stopped ignores resume
  EXPECT_EQ(mediaStatus(0), 0);

  // The restart the player does at the end plays the track again from its start.
  ASSERT_EQ(playMedia(0, kOwner), 1);
  const MediaTime again = mediaStatus(0);
  EXPECT_GT(again, 0);
  EXPECT_LT(again, kSecond / 2);
}

TEST_F(MediaTest, SeekPastTheEndEndsTheTrack) {
  ASSERT_EQ(loadMedia(0, u16(mp3Fixture("short", {{0.5, 440}}))), 1);
  ASSERT_EQ(playMedia(0, kOwner), 1);
  seekMedia(0, 60 * kSecond);
  EXPECT_TRUE(waitUntil([] { return mediaStatus(0) == 0; }));
  EXPECT_EQ(mediaPlayerState(0), MediaStopped);
}

TEST_F(MediaTest, PlayNeedsAnOwnerAndAlwaysStartsAtZero) {
  ASSERT_EQ(loadMedia(0, u16(twoToneTrack())), 1);
  EXPECT_EQ(playMedia(0, -1), 0);
  EXPECT_EQ(mediaPlayerState(0), MediaStopped);
  EXPECT_EQ(mediaStatus(0), 0);

  ASSERT_EQ(playMedia(0, kOwner), 1);
  seekMedia(0, 3 * kSecond);
  ASSERT_TRUE(waitForPosition(0, 3 * kSecond));
  EXPECT_EQ(playMedia(0, -1), 0);  // refused: still playing on from the seek
  EXPECT_GE(mediaStatus(0), 3 * kSecond);

  ASSERT_EQ(playMedia(0, kOwner), 1);
  EXPECT_LT(mediaStatus(0), kSecond);

  pauseMedia(0);
  ASSERT_EQ(playMedia(0, kOwner), 1);  // from paused too: playing, from the start
  EXPECT_EQ(mediaPlayerState(0), MediaPlaying);
  const MediaTime fromPause = mediaStatus(0);
  EXPECT_GT(fromPause, 0);
  EXPECT_LT(fromPause, kSecond);
}

TEST_F(MediaTest, StopRewindsAndPlayingTrackKeepsFileWhenVolumeChanges) {
  ASSERT_EQ(loadMedia(0, u16(twoToneTrack())), 1);
  ASSERT_EQ(playMedia(0, kOwner), 1);
  for (int volume : {0, 37, 100, 150, -5}) setMediaVolume(0, volume, 0);
  ASSERT_TRUE(waitForPosition(0, kSecond / 5));
  stopMedia(0);
  EXPECT_EQ(mediaStatus(0), 0);
  EXPECT_EQ(mediaPlayerState(0), MediaStopped);
  EXPECT_TRUE(waitUntil([] { return mediaPipelinePosition(0) == 0; }));
}

TEST_F(MediaTest, FileCutShortWhilePlayingReadsStopped) {
  const std::string original = twoToneTrack();
  const std::string victim = fixtureDir() + "/victim.mp3";
  std::filesystem::copy_file(original, victim);
  ASSERT_EQ(loadMedia(0, u16(victim)), 1);
  ASSERT_EQ(playMedia(0, kOwner), 1);
  ASSERT_TRUE(waitForPosition(0, kSecond / 10));
  std::filesystem::resize_file(victim, 0);
  EXPECT_TRUE(waitUntil([] { return mediaStatus(0) == 0; }, std::chrono::seconds(15)));
  // The player's restart finds nothing left to play and still reads as stopped, quietly.
  playMedia(0, kOwner);
  EXPECT_TRUE(waitUntil([] { return mediaStatus(0) == 0; }, std::chrono::seconds(15)));
  std::filesystem::remove(victim);
  freeMedia(0);
  EXPECT_EQ(isMedia(0), 0);
}

}  // namespace
}  // namespace lunadio::testing
