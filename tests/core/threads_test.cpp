#include "core/threads.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

namespace lunadio {
namespace {

bool waitUntil(const std::function<bool()>& condition) {
  for (int i = 0; i < 1000 && !condition(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  return condition();
}

TEST(Threads, NumbersCountUpAndTrackRunningState) {
  std::atomic<bool> release{false};
  std::atomic<int> seen{0};
  auto work = [&](void* parameter) {
    seen.fetch_add(*static_cast<int*>(parameter));
    while (!release.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  };
  int value = 5;
  const int first = createThread(work, &value);
  const int second = createThread(work, &value);
  ASSERT_GT(first, 0);
  EXPECT_EQ(second, first + 1);
  EXPECT_TRUE(isThread(first));
  EXPECT_TRUE(isThread(second));
  release = true;
  EXPECT_TRUE(waitUntil([&] { return !isThread(first) && !isThread(second); }));
  EXPECT_EQ(seen.load(), 10);
  EXPECT_FALSE(isThread(0));
  EXPECT_FALSE(isThread(99999));
}

TEST(Threads, ManyThreadsCreatedFromSeveralThreadsGetDistinctNumbers) {
  std::vector<int> numbers(64);
  std::vector<std::thread> creators;
  for (int c = 0; c < 4; ++c) {
    creators.emplace_back([&, c] {
      for (int i = 0; i < 16; ++i)
        numbers[static_cast<std::size_t>(c * 16 + i)] = createThread([](void*) {}, nullptr);
    });
  }
  for (auto& t : creators) t.join();
  std::sort(numbers.begin(), numbers.end());
  EXPECT_GT(numbers.front(), 0);
  EXPECT_EQ(std::adjacent_find(numbers.begin(), numbers.end()), numbers.end());
}

}  // namespace
}  // namespace lunadio
