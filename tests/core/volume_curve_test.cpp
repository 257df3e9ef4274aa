#include "core/volume_curve.h"

#include <gtest/gtest.h>

#include <climits>

namespace lunadio {
namespace {

TEST(VolumeCurve, EachPercentageHasItsExactAttenuation) {
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
    EXPECT_EQ(volumePercentToHundredthsDb(row.volume), row.expected) << "volume " << row.volume;
  }
  const auto& table = volumeCurveTable();
  EXPECT_EQ(table[0], 0);
  EXPECT_EQ(table[50], 9397);
  EXPECT_EQ(table[100], 10000);
  for (int v = 2; v <= 100; ++v) EXPECT_LT(table[v - 1], table[v]) << "rises at " << v;
}

TEST(VolumeCurve, GainsFollowTheDecibelsWithExactEnds) {
  EXPECT_EQ(hundredthsDbToGain(0), 1.0);
  EXPECT_EQ(hundredthsDbToGain(500), 1.0) << "never louder than the source";
  EXPECT_EQ(hundredthsDbToGain(-10000), 0.0) << "the bottom of the table is silence, not -100 dB";
  EXPECT_EQ(hundredthsDbToGain(INT_MIN), 0.0);
  EXPECT_NEAR(hundredthsDbToGain(-603), 0.4995, 0.0005);
  EXPECT_NEAR(hundredthsDbToGain(-2000), 0.1, 1e-12);
  EXPECT_NEAR(hundredthsDbToGain(-9999), 1.00115e-5, 1e-9);
}

TEST(VolumeCurve, ABalanceAttenuatesOnlyTheOppositeChannel) {
  struct Row {
    HundredthsDb balance;
    double left;
    double right;
  };
  const Row rows[] = {
      {0, 1.0, 1.0},      {600, 0.501, 1.0},   {-2000, 1.0, 0.1},   {10000, 0.0, 1.0},
      {-10000, 1.0, 0.0}, {INT_MAX, 0.0, 1.0}, {INT_MIN, 1.0, 0.0},
  };
  for (const Row& row : rows) {
    const ChannelGains gains = balanceGains(row.balance);
    EXPECT_NEAR(gains.left, row.left, 0.001) << "balance " << row.balance;
    EXPECT_NEAR(gains.right, row.right, 0.001) << "balance " << row.balance;
  }
}

}  // namespace
}  // namespace lunadio
