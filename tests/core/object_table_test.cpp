#include "core/object_table.h"

#include <gtest/gtest.h>

#include <vector>

namespace lunadio {
namespace {

struct TestRecord {
  int handle = 0;
  int payload = 0;
  bool isLive() const { return handle != 0; }
};

// A table whose free callback logs the numbers it destroyed, as a library's free operation would.
struct LoggingTable {
  std::vector<ObjectNumber> freed;
  ObjectTable<TestRecord> table{50, [this](ObjectNumber id) {
                                  freed.push_back(id);
                                  table.release(id);
                                }};

  ObjectNumber create(ObjectNumber number, int handle) {
    auto allocation = table.allocate(number);
    if (!allocation.record) return 0;
    allocation.record->handle = handle;
    return allocation.id;
  }
};

TEST(ObjectTable, GrowsByItsStepBeyondTheRequestedNumber) {
  LoggingTable t;
  EXPECT_EQ(t.table.capacity(), 50u);
  t.create(60, 1);
  EXPECT_EQ(t.table.capacity(), 110u);
  ASSERT_NE(t.table.lookup(60), nullptr);
  EXPECT_EQ(t.table.lookup(60)->handle, 1);
}

TEST(ObjectTable, RecreatingALiveNumberDestroysTheOldObjectFirst) {
  LoggingTable t;
  t.create(3, 11);
  TestRecord* first = t.table.lookup(3);
  first->payload = 42;
  t.create(3, 22);
  EXPECT_EQ(t.freed, std::vector<ObjectNumber>{3});
  TestRecord* second = t.table.lookup(3);
  EXPECT_EQ(second, first) << "the slot's record is reused";
  EXPECT_EQ(second->handle, 22);
  EXPECT_EQ(second->payload, 0) << "the old object's fields are cleared";
}

TEST(ObjectTable, ReleasedStaticSlotKeepsAClearedRecordForReuse) {
  LoggingTable t;
  t.create(5, 1);
  TestRecord* record = t.table.lookup(5);
  t.table.release(5);
  EXPECT_EQ(t.table.lookup(5), nullptr);
  EXPECT_FALSE(t.table.isObject(5));
  t.create(5, 2);
  EXPECT_EQ(t.table.lookup(5), record);
  EXPECT_TRUE(t.freed.empty()) << "a cleared slot has no object to destroy";
}

TEST(ObjectTable, DynamicIdentifiersAreDistinctNeverReusedAndFarAboveSlots) {
  LoggingTable t;
  const ObjectNumber a = t.create(ObjectAny, 1);
  const ObjectNumber b = t.create(ObjectAny, 2);
  EXPECT_NE(a, b);
  EXPECT_GE(a, kFirstDynamicId);
  EXPECT_GT(a, kMaxStaticNumber);
  t.table.release(a);
  EXPECT_EQ(t.table.lookup(a), nullptr) << "a stale identifier names nothing";
  const ObjectNumber c = t.create(ObjectAny, 3);
  EXPECT_NE(c, a);
  EXPECT_EQ(t.table.lookup(b)->handle, 2);
}

TEST(ObjectTable, InventedOrOutOfRangeNumbersNameNoObject) {
  LoggingTable t;
  t.create(ObjectAny, 1);
  for (ObjectNumber id : {-5, -1, 50, 1000, kFirstDynamicId - 1, kFirstDynamicId + 7, INT32_MAX}) {
    EXPECT_EQ(t.table.lookup(id), nullptr) << id;
    EXPECT_FALSE(t.table.isObject(id)) << id;
    t.table.release(id);  // must not touch anything
  }
  EXPECT_EQ(t.table.liveIds().size(), 1u);
}

TEST(ObjectTable, HugeStaticNumbersFailInsteadOfExhaustingMemory) {
  LoggingTable t;
  EXPECT_EQ(t.table.allocate(kMaxStaticNumber + 1).record, nullptr);
  EXPECT_EQ(t.table.allocate(INT32_MAX).record, nullptr);
  EXPECT_EQ(t.table.allocate(-2).record, nullptr);
  EXPECT_EQ(t.table.capacity(), 50u);
}

TEST(ObjectTable, EnumerationListsStaticAscendingThenDynamicOldestFirst) {
  LoggingTable t;
  t.create(9, 1);
  const ObjectNumber older = t.create(ObjectAny, 2);
  t.create(2, 3);
  const ObjectNumber newer = t.create(ObjectAny, 4);
  t.create(4, 5);
  t.table.release(4);

  const std::vector<ObjectNumber> expected{2, 9, older, newer};
  EXPECT_EQ(t.table.liveIds(), expected);
}

TEST(ObjectTable, FreeAllDestroysEveryLiveObjectInEnumerationOrder) {
  LoggingTable t;
  t.create(7, 1);
  const ObjectNumber dynamic = t.create(ObjectAny, 2);
  t.create(1, 3);
  t.table.freeAll();
  EXPECT_EQ(t.freed, (std::vector<ObjectNumber>{1, 7, dynamic}));
  EXPECT_TRUE(t.table.liveIds().empty());
}

TEST(ObjectTable, AFailedCreateLeavesNoObject) {
  LoggingTable t;
  auto allocation = t.table.allocate(ObjectAny);
  t.table.release(allocation.id);  // the platform object could not be made
  auto staticAllocation = t.table.allocate(3);
  t.table.release(staticAllocation.id);
  EXPECT_TRUE(t.table.liveIds().empty());
}

}  // namespace
}  // namespace lunadio
