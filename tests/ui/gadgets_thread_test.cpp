// Gadget calls from a worker thread, as the library scan makes them. Also run under
// ThreadSanitizer.
#include <atomic>
#include <string>
#include <thread>

#include "core/strings.h"
#include "ui/gadgets_forward.h"
#include "ui_test_support.h"

namespace lunadio::testing {
namespace {

// The forwarder alone, with a generation table and a main-thread stand-in of its own.
class ForwarderTest : public ::testing::Test {
 protected:
  std::map<ObjectNumber, std::uint64_t> live;  // gadget -> generation
  int posts = 0;
  ui::GadgetCallForwarder forwarder{[this](ObjectNumber gadget, std::uint64_t generation) {
                                      auto it = live.find(gadget);
                                      return it != live.end() && it->second == generation;
                                    },
                                    [this](std::function<void()>) {
                                      ++posts;
                                      return true;
                                    }};
  void create(ObjectNumber gadget, std::uint64_t generation, bool hasItems,
              bool stateIsPosition = false) {
    live[gadget] = generation;
    forwarder.addGadget(gadget, generation, ui::GadgetTraits{hasItems, stateIsPosition});
  }
};

TEST_F(ForwarderTest, CallsRunInOrderAndOnlyOnTheGadgetTheyNamed) {
  create(3, 1, true);
  std::vector<int> ran;
  EXPECT_TRUE(forwarder.forward(3, ui::ItemEffect::AddOne, ui::Supersede::Never,
                                [&] { ran.push_back(1); }));
  EXPECT_TRUE(forwarder.forward(3, ui::ItemEffect::AddOne, ui::Supersede::Never,
                                [&] { ran.push_back(2); }));
  EXPECT_FALSE(
      forwarder.forward(4, ui::ItemEffect::None, ui::Supersede::Never, [&] { ran.push_back(99); }));
  EXPECT_EQ(forwarder.projectedItems(3), 2);
  EXPECT_EQ(posts, 1);  // one wake-up for a burst

  // Gadget 3 is re-created before the calls run: they are dropped.
  create(3, 2, true);
  forwarder.drainAll();
  EXPECT_TRUE(ran.empty());

  forwarder.forward(3, ui::ItemEffect::None, ui::Supersede::Never, [&] { ran.push_back(3); });
  forwarder.forward(3, ui::ItemEffect::None, ui::Supersede::Never, [&] { ran.push_back(4); });
  forwarder.drainAll();
  EXPECT_EQ(ran, (std::vector<int>{3, 4}));
}

TEST_F(ForwarderTest, ProjectedItemCountFollowsAddsAndClearsOfBothThreads) {
  create(3, 1, true);
  create(1, 2, false);
  forwarder.forward(3, ui::ItemEffect::AddOne, ui::Supersede::Never, [] {});
  forwarder.drainBefore(3, ui::ItemEffect::Clear);  // a main-thread clear after it
  EXPECT_EQ(forwarder.projectedItems(3), 0);
  forwarder.forward(3, ui::ItemEffect::AddOne, ui::Supersede::Never, [] {});
  forwarder.drainBefore(3, ui::ItemEffect::AddOne);
  EXPECT_EQ(forwarder.projectedItems(3), 2);
  // Only lists count items.
  forwarder.forward(1, ui::ItemEffect::AddOne, ui::Supersede::Never, [] {});
  EXPECT_EQ(forwarder.projectedItems(1), 0);
  forwarder.removeGadget(3);
  EXPECT_EQ(forwarder.projectedItems(3), 0);
  forwarder.drainAll();
}

TEST_F(ForwarderTest, OnlyTheLastTextOrPositionOfABatchIsShown) {
  create(1, 1, false);
  create(2, 2, false);
  create(25, 3, false, true);
  std::vector<std::string> shown;
  for (const char* text : {"a", "b", "c"}) {
    forwarder.forward(1, ui::ItemEffect::None, ui::Supersede::SameGadgetText,
                      [&shown, text] { shown.push_back(std::string("1") + text); });
    forwarder.forward(2, ui::ItemEffect::None, ui::Supersede::SameGadgetText,
                      [&shown, text] { shown.push_back(std::string("2") + text); });
  }
  // A list's state selects a row: every one counts. A progress bar's is just a position.
  for (const char* text : {"x", "y"}) {
    forwarder.forward(1, ui::ItemEffect::None, ui::Supersede::SameGadgetState,
                      [&shown, text] { shown.push_back(std::string("select ") + text); });
    forwarder.forward(25, ui::ItemEffect::None, ui::Supersede::SameGadgetState,
                      [&shown, text] { shown.push_back(std::string("bar ") + text); });
  }
  forwarder.drainAll();
  EXPECT_EQ(shown, (std::vector<std::string>{"1c", "2c", "select x", "select y", "bar y"}));
}

class WorkerGadgetsTest : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    ASSERT_NE(openWindow(ObjectAny, 0, 0, 700, 520, u"Lunadio", WindowBorderless), 0);
    makeList();
  }
  static void makeList() {
    ASSERT_NE(createListIconGadget(3, 10, 110, 680, 310, u"Titre", 100, ListFullRowSelect), 0);
    addGadgetColumn(3, 2, u"Taille (Mo)", 140);
  }
  // Runs the main loop until the worker is done and its calls have been applied.
  static void runUntilDone(std::thread& worker, const std::atomic<bool>& done) {
    while (!done.load()) waitWindowEvent(5);
    worker.join();
    waitWindowEvent(0);
  }
};

TEST_F(WorkerGadgetsTest, RowsFromAWorkerArriveInOrderWithTheirColoursAndData) {
  constexpr int kRows = 2000;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    for (int i = 0; i < kRows; ++i) {
      addGadgetItem(3, -1, u"song" + numberText(i) + u".ogg\n   1 Mo");
      const int row = countGadgetItems(3) - 1;
      setGadgetItemColor(3, row, 1, rgb(0, 145, 110), -1);
      setGadgetItemColor(3, row, 2, i % 2 ? rgb(230, 235, 255) : rgb(255, 235, 235), -1);
      setGadgetItemData(3, row, i + 1);
      setGadgetText(3, u"ignored by lists");
      if (i % 100 == 0) postEvent(65536, 0, 0, 0, 0);
    }
    postEvent(65537, 0, 0, 0, 0);
    done = true;
  });
  runUntilDone(worker, done);
  ASSERT_EQ(countGadgetItems(3), kRows);
  for (int i = 0; i < kRows; ++i) {
    ASSERT_EQ(getGadgetItemText(3, i, 0), u"song" + numberText(i) + u".ogg") << i;
    ASSERT_EQ(getGadgetItemData(3, i), i + 1);
    ASSERT_EQ(getGadgetItemColor(3, i, 2, 1), i % 2 ? rgb(230, 235, 255) : rgb(255, 235, 235));
  }
}

TEST_F(WorkerGadgetsTest, NothingReachesAFreedListAndTheNewOneGetsOnlyLaterRows) {
  constexpr int kRows = 3000;
  // The scan's progress bar and path field.
  ASSERT_NE(createProgressBarGadget(25, 20, 70, 440, 25, 0, 100), 0);
  ASSERT_NE(createStringGadget(1, 20, 70, 440, 25, u""), 0);
  std::atomic<bool> done{false};
  std::atomic<int> added{0};
  std::thread worker([&] {
    for (int i = 0; i < kRows; ++i) {
      addGadgetItem(3, -1, numberText(i));
      setGadgetState(25, i % 100);
      setGadgetText(1, numberText(i));
      added = i + 1;
    }
    done = true;
  });
  while (added.load() < kRows / 3 && !done.load()) waitWindowEvent(1);
  freeGadget(3);
  EXPECT_FALSE(isGadget(3));
  makeList();
  runUntilDone(worker, done);

  // The new list holds an unbroken run of the worker's last rows.
  const int count = countGadgetItems(3);
  ASSERT_LE(count, kRows);
  for (int i = 0; i < count; ++i) {
    ASSERT_EQ(getGadgetItemText(3, i, 0), numberText(kRows - count + i)) << i;
  }
  EXPECT_EQ(getGadgetText(1), numberText(kRows - 1));
  EXPECT_EQ(getGadgetState(25), (kRows - 1) % 100);
}

TEST_F(WorkerGadgetsTest, WorkerCallsOnUnknownGadgetsDoNothing) {
  std::thread worker([] {
    EXPECT_EQ(addGadgetItem(44, -1, u"x"), -1);
    EXPECT_EQ(countGadgetItems(44), 0);
    setGadgetText(44, u"x");
    // Reads off the main thread have nothing to give.
    EXPECT_EQ(getGadgetText(3), u"");
    EXPECT_EQ(getGadgetState(3), 0);
    // Creation and freeing stay with the main thread.
    EXPECT_EQ(createButtonGadget(45, 0, 0, 1, 1, u"x"), 0);
    freeGadget(3);
  });
  worker.join();
  waitWindowEvent(0);
  EXPECT_FALSE(isGadget(44));
  EXPECT_FALSE(isGadget(45));
  EXPECT_TRUE(isGadget(3));
}

}  // namespace
}  // namespace lunadio::testing
