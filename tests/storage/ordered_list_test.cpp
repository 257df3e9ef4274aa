#include "storage/ordered_list.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace lunadio {
namespace {

using StringList = OrderedList<std::string>;

void add(StringList& list, const std::string& text) { *list.addElement() = text; }

// The elements from first to last, walked with the cursor (which ends on the last one).
std::vector<std::string> contents(StringList& list) {
  std::vector<std::string> out;
  list.resetList();
  while (const std::string* e = list.nextElement()) out.push_back(*e);
  return out;
}

TEST(OrderedList, FirstAddOnEmptyListIsFirstLastAndCurrentAtIndexZero) {
  StringList list;
  add(list, "A");
  EXPECT_EQ(list.listIndex(), 0);
  EXPECT_EQ(list.listSize(), 1);
  EXPECT_EQ(*list.currentElement(), "A");
  EXPECT_EQ(list.previousElement(), nullptr);
  EXPECT_EQ(list.nextElement(), nullptr);
  EXPECT_EQ(contents(list), std::vector<std::string>{"A"});
}

TEST(OrderedList, AddInsertsAfterCursorOrAtFrontAfterReset) {
  StringList list;
  add(list, "A");
  add(list, "B");
  add(list, "C");
  ASSERT_EQ(*list.selectElement(1), "B");
  add(list, "B2");
  EXPECT_EQ(list.listIndex(), 2);
  list.resetList();
  add(list, "front");
  EXPECT_EQ(list.listIndex(), 0);
  EXPECT_EQ(contents(list), (std::vector<std::string>{"front", "A", "B", "B2", "C"}));
  // After a walk to the end the cursor is on the last element, so an add appends.
  add(list, "end");
  EXPECT_EQ(list.listIndex(), 5);
  EXPECT_EQ(contents(list).back(), "end");
}

TEST(OrderedList, CursorStopsAtBothEndsAndKeepsItsIndex) {
  StringList list;
  for (const char* s : {"A", "B", "C"}) add(list, s);
  list.resetList();
  EXPECT_EQ(list.listIndex(), -1);
  EXPECT_EQ(list.previousElement(), nullptr);
  EXPECT_EQ(*list.nextElement(), "A");
  EXPECT_EQ(list.listIndex(), 0);
  EXPECT_EQ(list.previousElement(), nullptr);
  EXPECT_EQ(*list.currentElement(), "A");
  list.nextElement();
  list.nextElement();
  EXPECT_EQ(list.nextElement(), nullptr);
  EXPECT_EQ(*list.currentElement(), "C");
  EXPECT_EQ(list.listIndex(), 2);
  EXPECT_EQ(*list.previousElement(), "B");
  EXPECT_EQ(list.listIndex(), 1);
}

TEST(OrderedList, SelectOutsideTheListLeavesNoCurrentElement) {
  StringList list;
  for (const char* s : {"A", "B", "C"}) add(list, s);
  for (int index : {-1, 3, 1000}) {
    list.selectElement(1);
    EXPECT_EQ(list.selectElement(index), nullptr) << index;
    EXPECT_EQ(list.currentElement(), nullptr);
    EXPECT_EQ(list.listIndex(), -1);
    EXPECT_EQ(*list.nextElement(), "A") << "a walk starts over at the first element";
  }
}

// selectElement starts from first, last or the current node depending on where it stands; every
// start must reach the same element, and the index must stay right for later moves.
TEST(OrderedList, SelectReachesEveryIndexFromEveryCursorState) {
  constexpr int kCount = 11;
  StringList list;
  for (int i = 0; i < kCount; ++i) add(list, std::to_string(i));
  enum class Start { Reset, Selected, WalkedFromReset, OutOfRange };
  for (Start start : {Start::Reset, Start::Selected, Start::WalkedFromReset, Start::OutOfRange}) {
    for (int from = 0; from < kCount; ++from) {
      for (int to = 0; to < kCount; ++to) {
        switch (start) {
          case Start::Reset:
            list.resetList();
            break;
          case Start::Selected:
            list.selectElement(from);
            break;
          case Start::WalkedFromReset:
            list.resetList();
            for (int k = 0; k <= from; ++k) list.nextElement();
            break;
          case Start::OutOfRange:
            list.selectElement(kCount);
            break;
        }
        const std::string* e = list.selectElement(to);
        ASSERT_NE(e, nullptr);
        ASSERT_EQ(*e, std::to_string(to)) << "start " << int(start) << " from " << from;
        ASSERT_EQ(list.listIndex(), to);
        const std::string* after = list.nextElement();
        ASSERT_EQ(after ? *after : "end", to + 1 < kCount ? std::to_string(to + 1) : "end");
      }
    }
  }
}

TEST(OrderedList, InsertingAfterTheCurrentAndStepingBackWalksDepthFirst) {
  // The library scan's pattern: read d, insert each child right after d and step back onto d.
  StringList pending;
  add(pending, "root");
  pending.resetList();
  std::vector<std::string> visited;
  const std::vector<std::pair<std::string, std::vector<std::string>>> children = {
      {"root", {"a", "b"}}, {"b", {"b1"}}, {"a", {"a1", "a2"}}};
  while (const std::string* d = pending.nextElement()) {
    const std::string name = *d;
    visited.push_back(name);
    for (const auto& [parent, kids] : children) {
      if (parent != name) continue;
      for (const std::string& kid : kids) {
        add(pending, kid);
        pending.previousElement();
      }
    }
  }
  EXPECT_EQ(visited, (std::vector<std::string>{"root", "b", "b1", "a", "a2", "a1"}));
}

TEST(OrderedList, ClearDestroysElementsAndTheListIsUsableAfterwards) {
  OrderedList<std::shared_ptr<int>> list;
  auto tracker = std::make_shared<int>(7);
  for (int i = 0; i < 40; ++i) *list.addElement() = tracker;
  EXPECT_EQ(tracker.use_count(), 41);
  list.clearList();
  EXPECT_EQ(tracker.use_count(), 1);
  EXPECT_EQ(list.listSize(), 0);
  EXPECT_EQ(list.nextElement(), nullptr);
  EXPECT_EQ(list.listIndex(), -1);
  ASSERT_NE(list.addElement(), nullptr);
  EXPECT_EQ(list.listSize(), 1);
  EXPECT_EQ(*list.selectElement(0), nullptr) << "a new element starts empty";
}

TEST(OrderedList, LargeListKeepsOrderAndElementAddressesAcrossBlocks) {
  StringList list;
  constexpr int kCount = 20000;
  std::vector<const std::string*> addresses;
  for (int i = 0; i < kCount; ++i) {
    std::string* e = list.addElement();
    *e = std::to_string(i);
    addresses.push_back(e);
  }
  ASSERT_EQ(list.listSize(), kCount);
  for (int i : {0, 1, 15, 16, 17, 4999, 12345, kCount - 1}) {
    EXPECT_EQ(list.selectElement(i), addresses[static_cast<std::size_t>(i)]);
    EXPECT_EQ(*list.selectElement(i), std::to_string(i));
  }
}

TEST(OrderedList, CopyAppendsOrReplacesWithCopies) {
  StringList source, target;
  for (const char* s : {"x", "y"}) add(source, s);
  add(target, "keep");
  ASSERT_TRUE(target.copyList(source, StringList::CopyMode::Append));
  EXPECT_EQ(contents(target), (std::vector<std::string>{"keep", "x", "y"}));
  ASSERT_TRUE(target.copyList(source, StringList::CopyMode::ClearFirst));
  EXPECT_EQ(contents(target), (std::vector<std::string>{"x", "y"}));
  *target.selectElement(0) = "changed";
  EXPECT_EQ(*source.selectElement(0), "x");
}

}  // namespace
}  // namespace lunadio
