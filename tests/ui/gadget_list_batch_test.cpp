// Rows handed to a list in batches, from the main thread and from a worker, mixed with one-row
// calls: the order, the colours of every column, the data word and the worker's projected count.
#include <atomic>
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

TEST_F(ListBatchTest, BatchesAndSingleRowsKeepTheirOrderFromEitherThread) {
  addGadgetItems(3, batch(0, 3));
  addGadgetItem(3, -1, u"row3\n3 Mo");
  addGadgetItems(3, {});
  std::atomic<bool> done{false};
  std::vector<int> projected;
  std::thread worker([&] {
    for (int first = 4; first < 4 + 10 * 500; first += 500) {
      addGadgetItems(3, batch(first, 500));
      projected.push_back(countGadgetItems(3));
    }
    done = true;
  });
  while (!done.load()) waitWindowEvent(5);
  worker.join();

  ASSERT_EQ(countGadgetItems(3), 5004);
  EXPECT_EQ(projected.front(), 504);
  EXPECT_EQ(projected.back(), 5004);
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

TEST_F(ListBatchTest, BatchForAFreedListIsDropped) {
  std::thread worker([] { addGadgetItems(3, batch(0, 10)); });
  worker.join();
  freeGadget(3);
  ASSERT_NE(createListIconGadget(3, 10, 110, 680, 310, u"Titre", 100), 0);
  waitWindowEvent(0);
  EXPECT_EQ(countGadgetItems(3), 0);
  // Other kinds take the rows one at a time through their defaults, which ignore them.
  ASSERT_NE(createButtonGadget(4, 0, 0, 10, 10, u"x"), 0);
  addGadgetItems(4, batch(0, 2));
  EXPECT_EQ(countGadgetItems(4), 0);
}

}  // namespace
}  // namespace lunadio::testing
