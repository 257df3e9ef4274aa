#include "core/threads.h"

#include "core/lifecycle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <stdexcept>
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

// A worker that polls its token, as the library scan does between directory entries.
void pollUntilStopped(std::stop_token stop, void* steps) {
  while (!stop.stop_requested()) {
    static_cast<std::atomic<int>*>(steps)->fetch_add(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

TEST(Threads, AStoppedWorkerEndsAndIsWaitedFor) {
  std::atomic<int> steps{0};
  const int worker = createThread(pollUntilStopped, &steps);
  ASSERT_GT(worker, 0);
  ASSERT_TRUE(waitUntil([&] { return steps.load() > 0; }));
  EXPECT_FALSE(waitThread(worker, 0)) << "still running, and not asked to stop";
  EXPECT_TRUE(isThread(worker));
  requestThreadStop(worker);
  EXPECT_TRUE(waitThread(worker, 10000));
  EXPECT_FALSE(isThread(worker));
  const int after = steps.load();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(steps.load(), after) << "nothing runs after the wait";
  // Numbers that name no running thread: nothing to wait for, nothing to stop.
  requestThreadStop(worker);
  requestThreadStop(0);
  EXPECT_TRUE(waitThread(worker, 1000));
  EXPECT_TRUE(waitThread(424242, 1000));
}

TEST(Threads, TheWaitIsBoundedForAWorkerThatIgnoresItsToken) {
  std::atomic<bool> release{false};
  const int stubborn = createThread(
      [&](void*) {
        while (!release.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      },
      nullptr);
  ASSERT_GT(stubborn, 0);
  requestThreadStop(stubborn);
  const auto started = std::chrono::steady_clock::now();
  EXPECT_FALSE(waitThread(stubborn, 30));
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(30));
  EXPECT_TRUE(isThread(stubborn));
  release = true;
  EXPECT_TRUE(waitThread(stubborn, 10000));
}

TEST(Threads, AThrowingProcedureEndsItsThreadAndNothingElse) {
  const int thrower = createThread([](void*) { throw std::runtime_error("scan failed"); }, nullptr);
  ASSERT_GT(thrower, 0);
  EXPECT_TRUE(waitThread(thrower, 10000));
  EXPECT_FALSE(isThread(thrower));
}

TEST(Threads, TheEndSequenceStopsEveryWorkerBeforeTheStagesAfterIt) {
  clearLifecycle();
  struct Worker {
    std::atomic<bool> ended{false};
  };
  Worker workers[2];
  for (Worker& worker : workers) {
    ASSERT_GT(createThread(
                  [](std::stop_token stop, void* self) {
                    // The end of a scan's walk is slow to come: a sleep stands for each entry.
                    while (!stop.stop_requested()) {
                      std::this_thread::sleep_for(std::chrono::milliseconds(2));
                    }
                    static_cast<Worker*>(self)->ended = true;
                  },
                  &worker),
              0);
  }
  bool bothEndedAtSoundStage = false;
  addEndRoutine(EndStage::Sound, "sound",
                [&] { bothEndedAtSoundStage = workers[0].ended && workers[1].ended; });
  addEndRoutine(EndStage::Threads, "threads", closeAllThreads);
  runEndSequence();
  EXPECT_TRUE(bothEndedAtSoundStage);
  clearLifecycle();
}

TEST(Threads, StoppingAllIsBoundedAndEmptiesTheList) {
  // Static: the stubborn worker may still read them after the test has returned.
  static std::atomic<bool> release{false};
  static std::atomic<int> steps{0};
  const int polite = createThread(pollUntilStopped, &steps);
  const int stubborn = createThread(
      [](void*) {
        while (!release.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      },
      nullptr);
  ASSERT_GT(polite, 0);
  ASSERT_GT(stubborn, 0);
  EXPECT_FALSE(stopAllThreads(30));
  EXPECT_FALSE(isThread(polite));
  EXPECT_FALSE(isThread(stubborn)) << "forgotten once the wait is over";
  release = true;
  EXPECT_TRUE(stopAllThreads(1000)) << "nothing left to wait for";
}

}  // namespace
}  // namespace lunadio
