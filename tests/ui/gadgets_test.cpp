// Gadget kinds driven with QTest, offscreen, read back through the gadget operations and the
// events the queue delivers.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTreeView>
#include <QWheelEvent>

#include "core/strings.h"
#include "ui/gadgets_internal.h"
#include "ui/ui_internal.h"
#include "ui_test_support.h"

namespace lunadio::testing {
namespace {

// The QWidget of a gadget, found by its place in the window.
QWidget* gadgetWidget(ObjectNumber window, ObjectNumber gadget) {
  QWidget* parent = ui::windowWidget(window);
  const QPoint at(gadgetX(gadget) + 1, gadgetY(gadget) + 1);
  QWidget* child = parent ? parent->childAt(at) : nullptr;
  // childAt skips widgets that let the pointer through; every gadget tested here takes it.
  while (child && child->parentWidget() != parent) child = child->parentWidget();
  return child;
}

class GadgetsTest : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    ASSERT_NE(openWindow(0, 0, 0, 400, 300, u"", WindowBorderless), 0);
    takeEvents();
  }
  void TearDown() override {
    ui::overrideGadgetImageLookup({});
    UiTest::TearDown();
  }
};

TEST_F(GadgetsTest, ListSplitsItemsIntoColumnsAndReadsHeaderTitles) {
  ASSERT_NE(createListIconGadget(3, 10, 10, 380, 200, u"Titre", 100, ListFullRowSelect), 0);
  addGadgetColumn(3, 2, u"Taille (Mo)", 140);
  EXPECT_EQ(addGadgetItem(3, -1, u"song.ogg\n   1 Mo"), 0);
  EXPECT_EQ(addGadgetItem(3, -1, u"second.wav"), 1);
  EXPECT_EQ(addGadgetItem(3, 0, u"first\nx"), 0);  // inserted before the others
  EXPECT_EQ(countGadgetItems(3), 3);
  EXPECT_EQ(getGadgetItemText(3, 1, 0), u"song.ogg");
  EXPECT_EQ(getGadgetItemText(3, 1, 1), u"   1 Mo");
  EXPECT_EQ(getGadgetItemText(3, 2, 1), u"");
  EXPECT_EQ(getGadgetItemText(3, 0), u"first");
  EXPECT_EQ(getGadgetItemText(3, -1, 1), u"Taille (Mo)");
  EXPECT_EQ(getGadgetItemText(3, 9, 0), u"");

  setGadgetItemText(3, -1, u"Nom", 0);
  setGadgetItemText(3, 2, u"5 Mo", 1);
  EXPECT_EQ(getGadgetItemText(3, -1, 0), u"Nom");
  EXPECT_EQ(getGadgetItemText(3, 2, 0), u"second.wav");
  EXPECT_EQ(getGadgetItemText(3, 2, 1), u"5 Mo");

  setGadgetItemAttribute(3, 0, 1, 380 - 145, 0);
  EXPECT_EQ(getGadgetItemAttribute(3, 0, 1, 0), 235);
  EXPECT_EQ(getGadgetItemAttribute(3, 0, 1, 1), 140);

  clearGadgetItems(3);
  EXPECT_EQ(countGadgetItems(3), 0);
}

TEST_F(GadgetsTest, ListSelectionState) {
  ASSERT_NE(createListIconGadget(3, 10, 10, 380, 200, u"Titre", 100), 0);
  EXPECT_EQ(getGadgetState(3), -1);
  setGadgetState(3, -1);
  EXPECT_EQ(getGadgetState(3), -1);
  for (int i = 0; i < 5; ++i) addGadgetItem(3, -1, u"row");
  takeEvents();
  setGadgetState(3, 3);
  EXPECT_EQ(getGadgetState(3), 3);
  EXPECT_EQ(gadgetTypes(takeEvents(), 3), std::vector<int>{EventTypeChange});
  setGadgetState(3, 42);  // outside the list: only deselects
  EXPECT_EQ(getGadgetState(3), -1);
}

TEST_F(GadgetsTest, ListItemColoursAndData) {
  ASSERT_NE(createListIconGadget(3, 10, 10, 380, 200, u"Titre", 100), 0);
  addGadgetColumn(3, 1, u"Taille", 140);
  // Every item of an empty list: nothing to change, and later items keep the default.
  setGadgetItemColor(3, -1, 1, rgb(255, 0, 0), -1);
  EXPECT_EQ(countGadgetItems(3), 0);
  addGadgetItem(3, -1, u"a\n1");
  addGadgetItem(3, -1, u"b\n2");
  EXPECT_EQ(getGadgetItemColor(3, 0, 1, 0), -1);

  setGadgetItemColor(3, 1, 2, rgb(230, 235, 255), -1);
  setGadgetItemColor(3, 0, 1, rgb(0, 128, 192), 1);
  EXPECT_EQ(getGadgetItemColor(3, 1, 2, 0), rgb(230, 235, 255));
  EXPECT_EQ(getGadgetItemColor(3, 1, 2, 1), rgb(230, 235, 255));
  EXPECT_EQ(getGadgetItemColor(3, 0, 1, 1), rgb(0, 128, 192));
  EXPECT_EQ(getGadgetItemColor(3, 0, 1, 0), -1);

  // Colours follow their column when a column is inserted before it.
  addGadgetColumn(3, 0, u"#", 20);
  EXPECT_EQ(getGadgetItemColor(3, 0, 1, 2), rgb(0, 128, 192));
  EXPECT_EQ(getGadgetItemText(3, 0, 1), u"a");

  setGadgetItemData(3, 1, 77);
  setGadgetItemData(3, 5, 99);  // outside: ignored
  EXPECT_EQ(getGadgetItemData(3, 1), 77);
  EXPECT_EQ(getGadgetItemData(3, 0), 0);
}

TEST_F(GadgetsTest, ListReportsClicksOnlyWithASelection) {
  ASSERT_NE(createListIconGadget(3, 10, 10, 380, 200, u"Titre", 300), 0);
  addGadgetItem(3, -1, u"one");
  takeEvents();  // lets the list show its new row
  auto* view = qobject_cast<QTreeView*>(gadgetWidget(0, 3));
  ASSERT_NE(view, nullptr);
  const QPoint row0 = view->visualRect(view->model()->index(0, 0)).center();
  takeEvents();
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, row0);
  auto types = gadgetTypes(takeEvents(), 3);
  EXPECT_EQ(types, (std::vector<int>{EventTypeChange, EventTypeLeftClick}));
  EXPECT_EQ(getGadgetState(3), 0);
  QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, row0);
  types = gadgetTypes(takeEvents(), 3);
  EXPECT_NE(std::find(types.begin(), types.end(), EventTypeLeftDoubleClick), types.end());
}

TEST_F(GadgetsTest, ThreeStateCheckBoxNeverClicksIntoIndeterminate) {
  ASSERT_NE(createCheckBoxGadget(12, 10, 10, 200, 20, u"Autres formats audio", CheckBoxThreeState),
            0);
  ASSERT_NE(createCheckBoxGadget(13, 10, 40, 200, 20, u"Son Wave (*.wav)"), 0);
  setGadgetState(12, -1);
  EXPECT_EQ(getGadgetState(12), -1);
  auto* box = qobject_cast<QCheckBox*>(gadgetWidget(0, 12));
  ASSERT_NE(box, nullptr);
  takeEvents();
  QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(5, box->height() / 2));
  EXPECT_EQ(getGadgetState(12), 1);
  QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(5, box->height() / 2));
  EXPECT_EQ(getGadgetState(12), 0);
  QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(5, box->height() / 2));
  EXPECT_EQ(getGadgetState(12), 1);
  for (int type : gadgetTypes(takeEvents(), 12)) EXPECT_EQ(type, EventTypeLeftClick);

  setGadgetState(13, -1);  // an ordinary box just checks
  EXPECT_EQ(getGadgetState(13), 1);
  setGadgetState(13, 0);
  EXPECT_EQ(getGadgetState(13), 0);
}

class CanvasTest : public GadgetsTest {
 protected:
  void SetUp() override {
    GadgetsTest::SetUp();
    ASSERT_NE(createCanvasGadget(8, 0, 0, 300, 10), 0);
    ASSERT_NE(createCanvasGadget(5, 10, 90, 280, 20), 0);
    canvas = gadgetWidget(0, 8);
    ASSERT_NE(canvas, nullptr);
    takeEvents();
  }
  QWidget* canvas = nullptr;
};

TEST_F(CanvasTest, PressReleasedOutsideGivesNoClick) {
  QTest::mousePress(canvas, Qt::LeftButton, {}, QPoint(20, 5));
  QTest::mouseRelease(canvas, Qt::LeftButton, {}, QPoint(20, 40));
  EXPECT_EQ(gadgetTypes(takeEvents(), 8),
            (std::vector<int>{EventTypeLeftButtonDown, EventTypeLeftButtonUp}));

  QTest::mousePress(canvas, Qt::LeftButton, {}, QPoint(20, 5));
  QTest::mouseRelease(canvas, Qt::LeftButton, {}, QPoint(21, 5));
  EXPECT_EQ(gadgetTypes(takeEvents(), 8),
            (std::vector<int>{EventTypeLeftButtonDown, EventTypeLeftButtonUp, EventTypeLeftClick}));

  QTest::mousePress(canvas, Qt::RightButton, {}, QPoint(20, 5));
  QTest::mouseRelease(canvas, Qt::RightButton, {}, QPoint(20, 5));
  EXPECT_EQ(
      gadgetTypes(takeEvents(), 8),
      (std::vector<int>{EventTypeRightButtonDown, EventTypeRightButtonUp, EventTypeRightClick}));
}

TEST_F(CanvasTest, PointerAttributesBelongToTheCurrentEventsCanvas) {
  QTest::mousePress(canvas, Qt::LeftButton, Qt::ShiftModifier, QPoint(140, 6));
  QTest::mouseRelease(canvas, Qt::LeftButton, Qt::ShiftModifier, QPoint(140, 6));
  postEvent(65536, 0, 0, 0, 0);
  ASSERT_EQ(waitWindowEvent(100), EventGadget);
  ASSERT_EQ(eventObject(), 8);
  ASSERT_EQ(eventType(), EventTypeLeftButtonDown);
  EXPECT_EQ(getGadgetAttribute(8, 2), 140);
  EXPECT_EQ(getGadgetAttribute(8, 3), 6);
  EXPECT_EQ(getGadgetAttribute(8, 6), 1);
  // Another canvas asked during canvas 8's event reads nothing.
  EXPECT_EQ(getGadgetAttribute(5, 2), 0);
  // A custom event is no canvas event.
  int code;
  while ((code = waitWindowEvent(100)) != 65536) ASSERT_NE(code, 0);
  EXPECT_EQ(getGadgetAttribute(8, 2), 0);
}

TEST_F(CanvasTest, WheelNotchesCarryTheirRemainderAndKeysGiveCodesAndCharacters) {
  QWidget* keyed = nullptr;
  ASSERT_NE(createCanvasGadget(20, 0, 200, 50, 50, CanvasKeyboard), 0);
  keyed = gadgetWidget(0, 20);
  ASSERT_NE(keyed, nullptr);
  takeEvents();
  const QPoint at(10, 10);
  const auto wheel = [&](int units) {
    QWheelEvent event(at, keyed->mapToGlobal(at), QPoint(), QPoint(0, units), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(keyed, &event);
  };
  wheel(60);  // half a notch: nothing yet
  EXPECT_TRUE(gadgetTypes(takeEvents(), 20).empty());
  wheel(60);
  wheel(-240);
  std::vector<std::intptr_t> notches;
  while (int code = windowEvent()) {
    if (code == EventGadget && eventObject() == 20 && eventType() == EventTypeMouseWheel) {
      notches.push_back(getGadgetAttribute(20, 5));
    }
  }
  // The two turns queued back to back collapse into one that adds them up.
  EXPECT_EQ(notches, (std::vector<std::intptr_t>{-1}));

  QTest::keyClick(keyed, Qt::Key_A, Qt::ShiftModifier);
  std::vector<std::pair<int, std::intptr_t>> keys;
  while (int code = windowEvent()) {
    if (code != EventGadget || eventObject() != 20) continue;
    if (eventType() == EventTypeKeyDown || eventType() == EventTypeKeyUp) {
      keys.emplace_back(eventType(), getGadgetAttribute(20, 8));
    } else if (eventType() == EventTypeInput) {
      keys.emplace_back(eventType(), getGadgetAttribute(20, 9));
    }
  }
  // Shift and A go down and up in turn; none of the strokes is lost to collapsing.
  ASSERT_EQ(keys.size(), 5u);
  EXPECT_EQ(keys[0], std::make_pair(int{EventTypeKeyDown}, std::intptr_t{16}));
  EXPECT_EQ(keys[1], std::make_pair(int{EventTypeKeyDown}, std::intptr_t{'A'}));
  EXPECT_EQ(keys[2].first, EventTypeInput);
  EXPECT_EQ(keys[3], std::make_pair(int{EventTypeKeyUp}, std::intptr_t{'A'}));
  EXPECT_EQ(keys[4], std::make_pair(int{EventTypeKeyUp}, std::intptr_t{16}));
}

TEST_F(CanvasTest, CursorIndexesAndMouseConfinement) {
  setGadgetAttribute(8, 7, 6);
  EXPECT_EQ(getGadgetAttribute(8, 7), 6);
  EXPECT_EQ(canvas->cursor().shape(), Qt::SizeAllCursor);
  setGadgetAttribute(8, 7, 0);
  EXPECT_EQ(canvas->cursor().shape(), Qt::ArrowCursor);
  EXPECT_EQ(getGadgetAttribute(8, 10), 0);
  setGadgetAttribute(8, 10, 1);
  EXPECT_EQ(getGadgetAttribute(8, 10), 1);
}

TEST_F(CanvasTest, BackingImageFollowsTheSize) {
  QImage* image = ui::canvasBackingImage(8);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->size(), QSize(300, 10));
  image->fill(Qt::red);
  resizeGadget(8, IgnoreValue, IgnoreValue, 320, IgnoreValue);
  image = ui::canvasBackingImage(8);
  EXPECT_EQ(image->size(), QSize(320, 10));
  EXPECT_EQ(gadgetX(8), 0);
  EXPECT_EQ(image->pixelColor(299, 9), QColor(Qt::red));  // what fitted is kept
  EXPECT_EQ(ui::canvasBackingImage(77), nullptr);
}

TEST_F(GadgetsTest, WindowDrawingStaysAboveGadgetsMadeLater) {
  QImage* overlay = ui::windowOverlayImage(0);
  ASSERT_NE(overlay, nullptr);
  EXPECT_EQ(overlay->size(), QSize(400, 300));
  overlay->fill(Qt::transparent);
  for (int x = 0; x < 400; ++x) overlay->setPixelColor(x, 0, Qt::red);
  ui::windowOverlayChanged(0);
  ASSERT_NE(createCanvasGadget(8, 0, 0, 300, 10), 0);
  ui::canvasBackingImage(8)->fill(Qt::blue);
  ui::canvasImageChanged(8);
  const QImage shown = ui::windowWidget(0)->grab().toImage();
  EXPECT_EQ(shown.pixelColor(5, 0), QColor(Qt::red));
  EXPECT_EQ(shown.pixelColor(5, 5), QColor(Qt::blue));
  // The overlay follows the client size.
  resizeWindow(0, IgnoreValue, IgnoreValue, 300, 60);
  EXPECT_EQ(ui::windowOverlayImage(0)->size(), QSize(300, 60));
  EXPECT_EQ(ui::windowOverlayImage(77), nullptr);
}

TEST_F(GadgetsTest, ImageGadgetTakesItsImagesSize) {
  ui::overrideGadgetImageLookup([](std::intptr_t handle) {
    if (handle == 0) return QImage();
    QImage image(static_cast<int>(handle), static_cast<int>(handle) + 1, QImage::Format_ARGB32);
    image.fill(Qt::blue);
    return image;
  });
  ASSERT_NE(createImageGadget(0, 50, 10, 31, 31, 25), 0);
  EXPECT_EQ(gadgetWidth(0), 25);
  EXPECT_EQ(gadgetHeight(0), 26);
  setGadgetState(0, 40);
  EXPECT_EQ(getGadgetState(0), 40);
  EXPECT_EQ(gadgetWidth(0), 40);
  ASSERT_NE(createImageGadget(7, 240, 10, 25, 25, 20, ImageBorder), 0);
  EXPECT_EQ(gadgetWidth(7), 24);
  EXPECT_EQ(gadgetHeight(7), 25);

  QWidget* image = gadgetWidget(0, 0);
  ASSERT_NE(image, nullptr);
  takeEvents();
  QTest::mouseClick(image, Qt::LeftButton, {}, QPoint(5, 5));
  QTest::mouseClick(image, Qt::RightButton, {}, QPoint(5, 5));
  EXPECT_EQ(gadgetTypes(takeEvents(), 0),
            (std::vector<int>{EventTypeLeftClick, EventTypeRightClick}));
}

TEST_F(GadgetsTest, ProgressBarRangeAndBusyMode) {
  ASSERT_NE(createProgressBarGadget(25, 20, 70, 440, 25, 0, 100, ProgressBarSmooth), 0);
  setGadgetState(25, 30);
  EXPECT_EQ(getGadgetState(25), 30);
  setGadgetState(25, -1);
  EXPECT_EQ(getGadgetState(25), -1);
  setGadgetState(25, 100);
  EXPECT_EQ(getGadgetState(25), 100);
  EXPECT_EQ(getGadgetAttribute(25, 1), 0);
  EXPECT_EQ(getGadgetAttribute(25, 2), 100);
  setGadgetAttribute(25, 2, 50);
  EXPECT_EQ(getGadgetAttribute(25, 2), 50);
  EXPECT_EQ(getGadgetState(25), 50);
  setGadgetColor(25, 1, rgb(255, 0, 0));
  EXPECT_EQ(getGadgetColor(25, 1), rgb(255, 0, 0));
  EXPECT_EQ(getGadgetColor(25, 2), -1);
}

TEST_F(GadgetsTest, GenericOperationsAndDefaults) {
  ASSERT_NE(createTextGadget(2, 10, 50, 270, 20, u"Titre : [No Selection]"), 0);
  ASSERT_NE(createFrameGadget(ObjectAny, 10, 50, 680, 55, u"Adresse de scan"), 0);
  setGadgetText(2, u"Lunadio");
  EXPECT_EQ(getGadgetText(2), u"Lunadio");
  setGadgetData(2, 1);
  EXPECT_EQ(getGadgetData(2), 1);
  resizeGadget(2, 10, IgnoreValue, IgnoreValue, 30);
  EXPECT_EQ(gadgetY(2), 50);
  EXPECT_EQ(gadgetWidth(2), 270);
  EXPECT_EQ(gadgetHeight(2), 30);
  // Operations a kind does not have read their defaults.
  EXPECT_EQ(addGadgetItem(2, -1, u"x"), -1);
  EXPECT_EQ(countGadgetItems(2), 0);
  EXPECT_EQ(getGadgetItemText(2, 0, 0), u"");
  EXPECT_EQ(getGadgetAttribute(2, 2), 0);
  setGadgetColor(2, 1, rgb(255, 240, 210));
  EXPECT_EQ(getGadgetColor(2, 1), rgb(255, 240, 210));
  EXPECT_EQ(getGadgetColor(2, 2), -1);
  gadgetToolTip(2, u"Lunadio, lecteur de musiques. \nCliquez pour déplacer");
  hideGadget(2, 1);
  disableGadget(2, 1);
  EXPECT_FALSE(gadgetWidget(0, 2) != nullptr && gadgetWidget(0, 2)->isVisible());
  // Unknown numbers do nothing.
  setGadgetText(99, u"x");
  EXPECT_EQ(getGadgetText(99), u"");
  EXPECT_EQ(gadgetWidth(99), 0);
  EXPECT_FALSE(isGadget(99));
}

TEST_F(GadgetsTest, NumbersAreSharedByAllWindows) {
  ASSERT_NE(createButtonGadget(6, 10, 120, 70, 25, u"Couleur"), 0);
  ASSERT_NE(openWindow(1, 0, 0, 700, 520, u"Lunadio", WindowTitleBar | WindowSystemMenu), 0);
  // The new window is now the gadget list; number 6 moves there.
  ASSERT_NE(createButtonGadget(6, 580, 70, 100, 25, u"Parcourir"), 0);
  EXPECT_EQ(getGadgetText(6), u"Parcourir");
  EXPECT_EQ(gadgetX(6), 580);
  EXPECT_EQ(ui::windowWidget(0)->findChildren<QWidget*>().size(), 0);

  // Back to the first window through its handle.
  EXPECT_EQ(useGadgetList(windowHandle(0)), windowHandle(1));
  EXPECT_EQ(useGadgetList(0), windowHandle(0));
  ASSERT_NE(createButtonGadget(9, 1, 1, 10, 10, u"z"), 0);
  closeWindow(1);
  EXPECT_FALSE(isGadget(6));
  EXPECT_TRUE(isGadget(9));
}

TEST_F(GadgetsTest, FreeingAGadgetDropsItsQueuedEvents) {
  ASSERT_NE(createButtonGadget(1, 0, 0, 50, 20, u"a"), 0);
  ASSERT_NE(createButtonGadget(4, 60, 0, 50, 20, u"b"), 0);
  QTest::mouseClick(gadgetWidget(0, 1), Qt::LeftButton);
  QTest::mouseClick(gadgetWidget(0, 4), Qt::LeftButton);
  freeGadget(1);
  const auto events = takeEvents();
  EXPECT_TRUE(gadgetTypes(events, 1).empty());
  EXPECT_EQ(gadgetTypes(events, 4), std::vector<int>{EventTypeLeftClick});
  freeGadget(ObjectAll);
  EXPECT_FALSE(isGadget(4));
}

TEST_F(GadgetsTest, NoGadgetListNoGadget) {
  closeWindow(0);
  EXPECT_EQ(createButtonGadget(1, 0, 0, 10, 10, u"a"), 0);
  EXPECT_FALSE(isGadget(1));
}

}  // namespace
}  // namespace lunadio::testing
