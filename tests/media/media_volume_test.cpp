#include "media/media_volume.h"

#include <climits>

#include <gtest/gtest.h>

namespace lunadio {
namespace {

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

}  // namespace
}  // namespace lunadio
