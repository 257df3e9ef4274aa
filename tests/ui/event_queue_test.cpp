// The queue's own rules, without Qt.
#include "ui/event_queue.h"

#include <gtest/gtest.h>

#include <vector>

namespace lunadio::ui {
namespace {

QueuedEvent ev(int code, ObjectNumber object = 0, ObjectNumber window = 0, int type = 0) {
  return QueuedEvent{code, object, window, type, 0, false, {}};
}

std::vector<int> drainCodes(EventQueue& queue) {
  std::vector<int> codes;
  QueuedEvent e;
  while (queue.pop(e)) codes.push_back(e.code);
  return codes;
}

struct CollapseCase {
  const char* name;
  QueuedEvent first;
  QueuedEvent second;
  std::size_t expectedSize;
};

TEST(EventQueue, CollapsesOnlyIdenticalConsecutiveSystemEvents) {
  const CollapseCase cases[] = {
      {"identical gadget events", ev(13100, 5, 0, 0), ev(13100, 5, 0, 0), 1},
      {"other type", ev(13100, 5, 0, 0), ev(13100, 5, 0, 1), 2},
      {"other object", ev(13100, 5, 0, 0), ev(13100, 6, 0, 0), 2},
      {"other window", ev(13100, 5, 0, 0), ev(13100, 5, 1, 0), 2},
      {"highest collapsible code", ev(65535), ev(65535), 1},
      {"identical custom events", ev(65536), ev(65536), 2},
  };
  for (const auto& c : cases) {
    EventQueue queue;
    queue.push(c.first);
    queue.push(c.second);
    EXPECT_EQ(queue.size(), c.expectedSize) << c.name;
  }
}

TEST(EventQueue, CollapseOnlyLooksAtTheLastEvent) {
  EventQueue queue;
  queue.push(ev(13100, 1));
  queue.push(ev(13110, 1));
  queue.push(ev(13100, 1));
  EXPECT_EQ(drainCodes(queue), (std::vector<int>{13100, 13110, 13100}));
}

TEST(EventQueue, CollapsedPointerEventKeepsLatestPositionAndAllWheelNotches) {
  EventQueue queue;
  QueuedEvent move = ev(13100, 8, 0, 65546);
  move.hasSnapshot = true;
  move.snapshot.mouseX = 3;
  move.snapshot.wheelNotches = 1;
  queue.push(move);
  move.snapshot.mouseX = 9;
  move.snapshot.wheelNotches = 2;
  queue.push(move);
  QueuedEvent out;
  ASSERT_TRUE(queue.pop(out));
  EXPECT_EQ(out.snapshot.mouseX, 9);
  EXPECT_EQ(out.snapshot.wheelNotches, 3);
  EXPECT_FALSE(queue.pop(out));
}

TEST(EventQueue, KeyStrokesNeverCollapse) {
  EventQueue queue;
  QueuedEvent key = ev(13100, 20, 0, 65547);
  key.collapsible = false;
  key.snapshot.key = 16;
  queue.push(key);
  key.snapshot.key = 65;
  queue.push(key);
  queue.push(key);
  EXPECT_EQ(queue.size(), 3u);
}

TEST(EventQueue, NewSizeEventReplacesOnlyThatWindowsQueuedOnes) {
  EventQueue queue;
  const EventPattern window1Sizes{13118, -1, 1, -1};
  queue.replaceAndPush(window1Sizes, ev(13118, 0, 1));
  queue.push(ev(13110, 18, 1));
  queue.push(ev(13118, 0, 2));
  queue.replaceAndPush(window1Sizes, ev(13118, 0, 1));
  QueuedEvent e;
  std::vector<std::pair<int, int>> seen;
  while (queue.pop(e)) seen.emplace_back(e.code, e.window);
  EXPECT_EQ(seen, (std::vector<std::pair<int, int>>{{13110, 1}, {13118, 2}, {13118, 1}}));
}

TEST(EventQueue, RemoveMatchesWildcardsAndKeepsOrder) {
  EventQueue queue;
  queue.push(ev(13100, 4, 0, 0));
  queue.push(ev(13100, 5, 0, 0));
  queue.push(ev(13100, 4, 0, 1));
  queue.push(ev(13110, 4, 0, 0));
  queue.remove(EventPattern{13100, 4, -1, -1});
  QueuedEvent e;
  ASSERT_TRUE(queue.pop(e));
  EXPECT_EQ(e.object, 5);
  ASSERT_TRUE(queue.pop(e));
  EXPECT_EQ(e.code, 13110);
  EXPECT_TRUE(queue.empty());
}

}  // namespace
}  // namespace lunadio::ui
