// Windows, the wait for events, posting from other threads and timers, offscreen.
#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <thread>

#include "core/lifecycle.h"
#include "ui/ui_internal.h"
#include "ui_test_support.h"

namespace lunadio::testing {
namespace {

using WindowsTest = UiTest;
using ui::windowWidget;

TEST_F(WindowsTest, OpenGivesHandlesForStaticNumbersAndIdentifiersForAny) {
  const std::intptr_t handle = openWindow(3, 10, 10, 200, 100, u"a", WindowBorderless);
  ASSERT_NE(handle, 0);
  EXPECT_EQ(windowHandle(3), handle);

  const std::intptr_t id = openWindow(ObjectAny, 10, 10, 50, 50, u"b", WindowInvisible);
  ASSERT_GE(id, kFirstDynamicId);
  EXPECT_TRUE(isWindow(static_cast<ObjectNumber>(id)));
  EXPECT_NE(windowHandle(static_cast<ObjectNumber>(id)), handle);

  closeWindow(static_cast<ObjectNumber>(id));
  EXPECT_FALSE(isWindow(static_cast<ObjectNumber>(id)));
  EXPECT_TRUE(isWindow(3));
}

TEST_F(WindowsTest, UnknownNumbersDoNothing) {
  EXPECT_EQ(windowHandle(77), 0);
  EXPECT_EQ(windowWidth(77), 0);
  EXPECT_EQ(windowMouseX(77), -1);
  resizeWindow(77, 1, 1, 1, 1);
  hideWindow(77, 1);
  closeWindow(kFirstDynamicId + 12345);
  setWindowAlpha(0x7777, 10);
  EXPECT_FALSE(isWindow(77));
}

TEST_F(WindowsTest, InnerSizeAndIgnoreValue) {
  ASSERT_NE(openWindow(0, 40, 30, 300, 155, u"Lunadio", WindowBorderless), 0);
  EXPECT_EQ(windowWidth(0), 300);
  EXPECT_EQ(windowHeight(0), 155);
  // Without a frame the outer size is the inner size.
  EXPECT_EQ(windowWidth(0, WindowMeasure::Outer), 300);

  const int x = windowX(0);
  const int y = windowY(0);
  resizeWindow(0, IgnoreValue, IgnoreValue, IgnoreValue, 60);
  EXPECT_EQ(windowWidth(0), 300);
  EXPECT_EQ(windowHeight(0), 60);
  EXPECT_EQ(windowX(0), x);
  EXPECT_EQ(windowY(0), y);

  resizeWindow(0, x + 7, IgnoreValue, IgnoreValue, IgnoreValue);
  EXPECT_EQ(windowX(0), x + 7);
  EXPECT_EQ(windowY(0), y);
  EXPECT_EQ(windowHeight(0), 60);
}

TEST_F(WindowsTest, ScreenCentredWindowSitsInTheMiddle) {
  ASSERT_NE(openWindow(0, 11, 10, 300, 155, u"", WindowBorderless | WindowScreenCentered), 0);
  const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
  EXPECT_NEAR(windowX(0) + 150, area.center().x(), 1);
  EXPECT_NEAR(windowY(0) + 77, area.center().y(), 1);
  // Moved away, then shown again with the centring flag: back in the middle.
  resizeWindow(0, 0, 0, IgnoreValue, IgnoreValue);
  hideWindow(0, 1);
  hideWindow(0, 0, WindowScreenCentered);
  EXPECT_NEAR(windowX(0) + 150, area.center().x(), 1);
  EXPECT_TRUE(windowWidget(0)->isVisible());
}

TEST_F(WindowsTest, ReopeningANumberClosesTheOldWindowAndItsGadgets) {
  const std::intptr_t first = openWindow(0, 0, 0, 100, 100, u"", WindowBorderless);
  ASSERT_NE(createButtonGadget(4, 0, 0, 10, 10, u"x"), 0);
  const std::intptr_t second = openWindow(0, 0, 0, 120, 100, u"", WindowBorderless);
  ASSERT_NE(second, 0);
  EXPECT_NE(first, second);
  EXPECT_EQ(windowWidth(0), 120);
  EXPECT_FALSE(isGadget(4));
  // The old handle names nothing any more.
  setWindowAlpha(first, 1);
  EXPECT_DOUBLE_EQ(windowWidget(0)->windowOpacity(), 1.0);
}

TEST_F(WindowsTest, CloseBoxOnlyQueuesTheCloseEvent) {
  ASSERT_NE(openWindow(2, 0, 0, 100, 100, u"", WindowTitleBar | WindowSystemMenu), 0);
  takeEvents();
  windowWidget(2)->close();
  const auto events = takeEvents();
  EXPECT_NE(std::find(events.begin(), events.end(), SeenEvent{EventCloseWindow, 0, 2, 0}),
            events.end());
  EXPECT_TRUE(isWindow(2));
  EXPECT_TRUE(windowWidget(2)->isVisible());
}

TEST_F(WindowsTest, ResizingSeveralTimesLeavesOneSizeEvent) {
  ASSERT_NE(openWindow(1, 0, 0, 100, 100, u"", WindowBorderless), 0);
  takeEvents();
  for (int h = 90; h > 60; h -= 5) resizeWindow(1, IgnoreValue, IgnoreValue, IgnoreValue, h);
  const auto events = takeEvents();
  EXPECT_EQ(std::count(events.begin(), events.end(), SeenEvent{EventSizeWindow, 0, 1, 0}), 1);
}

TEST_F(WindowsTest, ClosingAWindowDropsItsQueuedEvents) {
  ASSERT_NE(openWindow(1, 0, 0, 100, 100, u"", WindowBorderless), 0);
  ASSERT_NE(openWindow(2, 0, 0, 100, 100, u"", WindowBorderless), 0);
  takeEvents();
  resizeWindow(1, IgnoreValue, IgnoreValue, 50, 50);
  resizeWindow(2, IgnoreValue, IgnoreValue, 50, 50);
  closeWindow(1);
  for (const auto& e : takeEvents()) EXPECT_NE(e.window, 1) << e;
}

TEST_F(WindowsTest, PointerOnTheRightOrBottomEdgeIsOutside) {
  ASSERT_NE(openWindow(0, 20, 20, 100, 50, u"", WindowBorderless), 0);
  QWidget* w = windowWidget(0);
  const struct {
    QPoint local;
    int expectedX;
  } cases[] = {{{0, 0}, 0}, {{99, 49}, 99}, {{100, 10}, -1}, {{10, 50}, -1}, {{-1, 10}, -1}};
  for (const auto& c : cases) {
    QCursor::setPos(w->mapToGlobal(c.local));
    EXPECT_EQ(windowMouseX(0), c.expectedX) << c.local.x() << "," << c.local.y();
  }
}

TEST_F(WindowsTest, AlphaSetsTheOpacity) {
  const std::intptr_t handle = openWindow(0, 0, 0, 10, 10, u"", WindowBorderless);
  setWindowAlpha(handle, 1);
  EXPECT_NEAR(windowWidget(0)->windowOpacity(), 1 / 255.0, 0.01);
  setWindowAlpha(handle, 255);
  EXPECT_DOUBLE_EQ(windowWidget(0)->windowOpacity(), 1.0);
}

TEST_F(WindowsTest, WaitReturnsZeroWhenNothingArrives) {
  ASSERT_NE(openWindow(0, 0, 0, 10, 10, u"", WindowBorderless | WindowInvisible), 0);
  takeEvents();
  EXPECT_EQ(waitWindowEvent(0), 0);
  EXPECT_EQ(waitWindowEvent(5), 0);
}

TEST_F(WindowsTest, PostedEventsFromAThreadArriveInOrderUncollapsed) {
  constexpr int kCount = 500;
  std::thread poster([] {
    ASSERT_TRUE(postEvent(65536, 0, 0, 0, 0));
    ASSERT_TRUE(postEvent(65536, 0, 0, 0, 0));
    for (int i = 0; i < kCount; ++i) postEvent(65537, 4, i, 2, i * 3);
  });
  poster.join();
  int started = 0;
  int next = 0;
  while (next < kCount) {
    const int code = waitWindowEvent(1000);
    ASSERT_NE(code, 0) << "posted event lost after " << next;
    if (code == 65536) {
      EXPECT_EQ(next, 0);
      EXPECT_EQ(eventObject(), 0);
      EXPECT_EQ(eventWindow(), 0);
      EXPECT_EQ(eventType(), 0);
      ++started;
    } else if (code == 65537) {
      EXPECT_EQ(eventObject(), next);
      EXPECT_EQ(eventWindow(), 4);
      EXPECT_EQ(eventType(), 2);
      EXPECT_EQ(eventData(), next * 3);
      ++next;
    }
  }
  EXPECT_EQ(started, 2);
}

TEST_F(WindowsTest, PostedEventWakesAnUnlimitedWait) {
  std::thread poster([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    postEvent(70000, 0, 9, 0, 0);
  });
  int code;
  do {
    code = waitWindowEvent();
  } while (code != 70000);
  poster.join();
  EXPECT_EQ(eventObject(), 9);
}

TEST_F(WindowsTest, TimersQueueTheirIdAndStopWithTheWindow) {
  ASSERT_NE(openWindow(0, 0, 0, 10, 10, u"", WindowBorderless | WindowInvisible), 0);
  addWindowTimer(0, 18, 10);
  addWindowTimer(0, 1, 15);
  bool seen18 = false;
  bool seen1 = false;
  for (int i = 0; i < 400 && !(seen18 && seen1); ++i) {
    if (waitWindowEvent(50) == EventTimer) {
      EXPECT_EQ(eventWindow(), 0);
      seen18 |= eventObject() == 18;
      seen1 |= eventObject() == 1;
    }
  }
  EXPECT_TRUE(seen18);
  EXPECT_TRUE(seen1);
  closeWindow(0);
  for (int i = 0; i < 5; ++i) EXPECT_NE(waitWindowEvent(20), EventTimer);
}

}  // namespace
}  // namespace lunadio::testing

namespace lunadio::testing {
namespace {

TEST_F(WindowsTest, RestoreComesBeforeTheSizeEvent) {
  ASSERT_NE(openWindow(0, 0, 0, 100, 100, u"", WindowTitleBar), 0);
  QWidget* w = ui::windowWidget(0);
  w->setWindowState(Qt::WindowMinimized);
  takeEvents();
  w->setWindowState(Qt::WindowNoState);
  std::vector<int> codes;
  for (const auto& e : takeEvents()) {
    if (e.code == EventRestoreWindow || e.code == EventSizeWindow) codes.push_back(e.code);
  }
  ASSERT_FALSE(codes.empty());
  EXPECT_EQ(codes.front(), EventRestoreWindow);
  EXPECT_EQ(std::count(codes.begin(), codes.end(), EventSizeWindow), 1);
}

TEST_F(WindowsTest, EndSequenceClosesWindowsAndTheirGadgets) {
  clearLifecycle();
  registerUiWindowsLifecycle();
  ASSERT_TRUE(runStartSequence(StartStage::Tray));
  ASSERT_NE(openWindow(0, 0, 0, 100, 100, u"", WindowBorderless), 0);
  ASSERT_NE(createCanvasGadget(8, 0, 0, 10, 10), 0);
  runEndSequence();
  EXPECT_FALSE(isWindow(0));
  EXPECT_FALSE(isGadget(8));
  clearLifecycle();
  // The tests' own application is untouched and the library starts again.
  ASSERT_TRUE(startUserInterface());
  EXPECT_NE(openWindow(0, 0, 0, 10, 10, u"", WindowBorderless), 0);
}

}  // namespace
}  // namespace lunadio::testing
