// Rows handed to a list in batches, mixed with one-row calls: the order, the colours of every
// column and the data word. And gadget calls from another thread, which must change nothing.
#include <functional>
#include <string>
#include <thread>

#include "core/strings.h"
#include "ui_test_support.h"

namespace lunadio::testing {
namespace {

class ListBatchTest : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    ASSERT_NE(openWindow(ObjectAny, 0, 0, 700, 520, u"Lunadio", WindowBorderless), 0);
    ASSERT_NE(createListIconGadget(3, 10, 110, 680, 310, u"Titre", 100, ListFullRowSelect), 0);
    addGadgetColumn(3, 2, u"Taille (Mo)", 140);
  }
  static std::vector<GadgetItem> batch(int first, int count) {
    std::vector<GadgetItem> items;
    for (int i = first; i < first + count; ++i) {
      items.push_back(GadgetItem{u"row" + numberText(i) + u"\n" + numberText(i) + u" Mo",
                                 i % 2 ? rgb(0, 145, 110) : -1, rgb(230, 235, 255), i});
    }
    return items;
  }
};

TEST_F(ListBatchTest, BatchesAndSingleRowsKeepTheirOrder) {
  addGadgetItems(3, batch(0, 3));
  addGadgetItem(3, -1, u"row3\n3 Mo");
  addGadgetItems(3, {});
  for (int first = 4; first < 4 + 10 * 500; first += 500) addGadgetItems(3, batch(first, 500));

  ASSERT_EQ(countGadgetItems(3), 5004);
  for (int i = 0; i < 5004; ++i) {
    ASSERT_EQ(getGadgetItemText(3, i, 0), u"row" + numberText(i)) << i;
    ASSERT_EQ(getGadgetItemText(3, i, 1), numberText(i) + u" Mo") << i;
    if (i == 3) continue;  // the one-row call set no colour or data
    ASSERT_EQ(getGadgetItemData(3, i), i);
    for (int column : {0, 1}) {
      ASSERT_EQ(getGadgetItemColor(3, i, 1, column), i % 2 ? rgb(0, 145, 110) : -1) << i;
      ASSERT_EQ(getGadgetItemColor(3, i, 2, column), rgb(230, 235, 255)) << i;
    }
  }
  EXPECT_EQ(getGadgetItemColor(3, 3, 2, 0), -1);
}

TEST_F(ListBatchTest, KindsWithoutRowsIgnoreABatch) {
  ASSERT_NE(createButtonGadget(4, 0, 0, 10, 10, u"x"), 0);
  addGadgetItems(4, batch(0, 2));
  EXPECT_EQ(countGadgetItems(4), 0);
}

// Widgets belong to the main thread: a worker's gadget call must neither touch them nor leave
// anything behind for the main thread to apply later.
TEST_F(ListBatchTest, CallsFromAnotherThreadChangeNothingAndFail) {
  addGadgetItems(3, batch(0, 2));
  ASSERT_NE(createStringGadget(1, 20, 70, 440, 25, u"keep"), 0);
  ASSERT_NE(createProgressBarGadget(25, 20, 40, 440, 25, 0, 100), 0);
  setGadgetState(25, 40);

  struct Case {
    const char* name;
    std::function<std::intptr_t()> call;
    std::intptr_t failure;
  };
  const Case cases[] = {
      {"addGadgetItem", [] { return std::intptr_t{addGadgetItem(3, -1, u"x")}; }, -1},
      {"addGadgetItems", [] { return addGadgetItems(3, batch(2, 5)), std::intptr_t{0}; }, 0},
      {"clearGadgetItems", [] { return clearGadgetItems(3), std::intptr_t{0}; }, 0},
      {"setGadgetItemData", [] { return setGadgetItemData(3, 0, 77), std::intptr_t{0}; }, 0},
      {"setGadgetText", [] { return setGadgetText(1, u"changed"), std::intptr_t{0}; }, 0},
      {"setGadgetState", [] { return setGadgetState(25, 90), std::intptr_t{0}; }, 0},
      {"resizeGadget", [] { return resizeGadget(1, 0, 0, 50, 50), std::intptr_t{0}; }, 0},
      {"freeGadget", [] { return freeGadget(3), std::intptr_t{0}; }, 0},
      {"createButtonGadget", [] { return createButtonGadget(45, 0, 0, 1, 1, u"x"); }, 0},
      {"countGadgetItems", [] { return std::intptr_t{countGadgetItems(3)}; }, 0},
      {"getGadgetItemData", [] { return getGadgetItemData(3, 1); }, 0},
      {"getGadgetText", [] { return std::intptr_t(getGadgetText(1).size()); }, 0},
      {"getGadgetState", [] { return getGadgetState(25); }, 0},
      {"gadgetWidth", [] { return std::intptr_t{gadgetWidth(1)}; }, 0},
      {"isGadget", [] { return std::intptr_t{isGadget(3)}; }, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::intptr_t result = 12345;
    std::thread worker([&] { result = c.call(); });
    worker.join();
    waitWindowEvent(0);  // anything posted to the main thread would run here
    EXPECT_EQ(result, c.failure);
    ASSERT_TRUE(isGadget(3));
    EXPECT_EQ(countGadgetItems(3), 2);
    EXPECT_EQ(getGadgetItemData(3, 0), 0);
    EXPECT_EQ(getGadgetText(1), u"keep");
    EXPECT_EQ(getGadgetState(25), 40);
    EXPECT_EQ(gadgetWidth(1), 440);
    EXPECT_FALSE(isGadget(45));
  }
}

}  // namespace
}  // namespace lunadio::testing
