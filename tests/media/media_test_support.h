#pragma once
// Shared set-up of the media tests: the engine started with a real-time fake output.

#include <cstdlib>

#include <gtest/gtest.h>

#include "media/media.h"
#include "tests/media/support/media_fixtures.h"

namespace lunadio::testing {

inline constexpr MediaTime kSecond = kMediaUnitsPerSecond;

class MediaTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("LUNADIO_MEDIA_SINK", "fakesink sync=true", 1);
    ASSERT_NE(initMedia(), 0);
  }
  void TearDown() override { endMedia(); }

  // Four seconds: 440 Hz up to 1.5 s, then 1320 Hz.
  static std::string twoToneTrack() { return mp3Fixture("two-tone", {{1.5, 440}, {2.5, 1320}}); }

  // Waits until the player reads a running position of at least `position`.
  static bool waitForPosition(ObjectNumber number, MediaTime position) {
    return waitUntil([&] { return mediaStatus(number) >= position; });
  }
};

}  // namespace lunadio::testing
