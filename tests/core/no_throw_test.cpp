#include "core/no_throw.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <new>
#include <stdexcept>

namespace lunadio {
namespace {

// Handles and identifiers above 2^32 are common (a window target keeps its kind in the high
// bits); the guard must hand them back untouched even though the failure value is a plain 0.
TEST(NoThrow, KeepsTheBodysResultWhateverTheFailureLiteral) {
  const std::intptr_t handle = std::intptr_t{2} << 32;
  EXPECT_EQ(noThrow(0, [&] { return handle; }), handle);
  EXPECT_EQ(noThrow(-1, [] { return std::int64_t{5'000'000'000}; }), 5'000'000'000);
  static_assert(
      std::is_same_v<decltype(noThrow(0, [] { return std::intptr_t{}; })), std::intptr_t>);
}

TEST(NoThrow, WhatIsThrownBecomesTheFailureValue) {
  EXPECT_EQ(noThrow(0, []() -> std::intptr_t { throw std::bad_alloc(); }), 0);
  EXPECT_EQ(noThrow(-1, []() -> long long { throw std::runtime_error("x"); }), -1);
  int touched = 0;
  noThrow([&] {
    touched = 1;
    throw 42;
  });
  EXPECT_EQ(touched, 1);
}

}  // namespace
}  // namespace lunadio
