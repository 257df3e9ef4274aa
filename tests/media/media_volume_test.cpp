#include "media/media_volume.h"

#include <climits>

#include <gtest/gtest.h>

namespace lunadio {
namespace {

TEST(MediaVolume, TableGivesTheAttenuationOfEachPercentage) {
  struct Row {
    int volume;
    HundredthsDb expected;
  };
  const Row rows[] = {
      {0, -10000},
      {1, -4000},
      {2, -3398},
      {5, -2603},
      {10, -2000},
      {25, -1205},
      {50, -603},
      {75, -250},
      {90, -92},
      {99, -9},
      {100, 0},
      // out of range: clamped before the look-up
      {150, 0},
      {-5, -10000},
      {INT_MAX, 0},
      {INT_MIN, -10000},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(mediaVolumeHundredthsDb(row.volume), row.expected) << "volume " << row.volume;
  }
}

TEST(MediaVolume, TableNeverRisesAsTheVolumeFalls) {
  for (int volume = 1; volume <= 100; ++volume) {
    EXPECT_LE(mediaVolumeHundredthsDb(volume - 1), mediaVolumeHundredthsDb(volume)) << volume;
  }
}

TEST(MediaVolume, BalanceIsScaledByAHundredAndClamped) {
  struct Row {
    int balance;
    HundredthsDb expected;
  };
  const Row rows[] = {{0, 0},       {2, 200},       {-2, -200},       {100, 10000},
                      {250, 10000}, {-250, -10000}, {INT_MAX, 10000}, {INT_MIN, -10000}};
  for (const Row& row : rows) {
    EXPECT_EQ(mediaBalanceHundredthsDb(row.balance), row.expected) << "balance " << row.balance;
  }
}

TEST(MediaVolume, GainsFollowTheDecibels) {
  EXPECT_EQ(linearGain(0), 1.0);
  EXPECT_EQ(linearGain(-10000), 0.0);  // the bottom of the table is silence, not -100 dB
  EXPECT_NEAR(linearGain(-603), 0.4995, 0.0005);
  EXPECT_NEAR(linearGain(-2000), 0.1, 1e-9);

  const ChannelGains centred = balanceGains(0);
  EXPECT_EQ(centred.left, 1.0);
  EXPECT_EQ(centred.right, 1.0);
  const ChannelGains right = balanceGains(600);  // towards the right: the left channel drops
  EXPECT_NEAR(right.left, 0.501, 0.001);
  EXPECT_EQ(right.right, 1.0);
  const ChannelGains fullLeft = balanceGains(-10000);
  EXPECT_EQ(fullLeft.left, 1.0);
  EXPECT_EQ(fullLeft.right, 0.0);
}

}  // namespace
}  // namespace lunadio
