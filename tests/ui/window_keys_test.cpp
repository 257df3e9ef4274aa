// A window that takes its keys: presses reach the application as EventKeyDown whichever gadget
// has the focus, except Tab and what a text field types.
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "ui/ui_internal.h"
#include "ui_test_support.h"

namespace lunadio::testing {
namespace {

struct KeyEvent {
  int code;
  ObjectNumber window;
  int key;
  std::intptr_t data;
  bool operator==(const KeyEvent&) const = default;
};

std::ostream& operator<<(std::ostream& out, const KeyEvent& e) {
  return out << "{" << e.code << ", w" << e.window << ", key " << e.key << ", data " << e.data
             << "}";
}

std::vector<KeyEvent> takeAll() {
  std::vector<KeyEvent> seen;
  while (const int code = windowEvent()) {
    seen.push_back({code, eventWindow(), eventType(), eventData()});
  }
  return seen;
}

template <typename Widget>
Widget* childOf(ObjectNumber window) {
  return ui::windowWidget(window)->findChild<Widget*>();
}

class WindowKeysTest : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    ASSERT_NE(openWindow(5, 0, 0, 300, 155, u"panel", WindowBorderless), 0);
    ASSERT_NE(createButtonGadget(6, 10, 120, 70, 25, u"Couleur"), 0);
    ASSERT_NE(createStringGadget(7, 100, 120, 100, 25, u""), 0);
    takeAll();
  }
};

TEST_F(WindowKeysTest, EveryPressButTabReachesTheWindowWhicheverGadgetHasTheFocus) {
  setWindowKeys(5, WindowKeys::ToWindow);
  auto* button = childOf<QPushButton>(5);
  ASSERT_NE(button, nullptr);
  struct Case {
    Qt::Key qtKey;
    Qt::KeyboardModifiers modifiers;
    int key;
    std::intptr_t data;
  };
  const Case cases[] = {
      {Qt::Key_Space, Qt::NoModifier, KeySpace, 0},
      {Qt::Key_Left, Qt::NoModifier, KeyLeft, 0},
      {Qt::Key_Right, Qt::NoModifier, KeyRight, 0},
      {Qt::Key_Up, Qt::NoModifier, KeyUp, 0},
      {Qt::Key_Down, Qt::ShiftModifier, KeyDown, 1},
      {Qt::Key_Escape, Qt::NoModifier, KeyEscape, 0},
      {Qt::Key_Return, Qt::ControlModifier | Qt::AltModifier, KeyReturn, 6},
      {Qt::Key_P, Qt::NoModifier, 'P', 0},
  };
  // The window itself (nothing focused) and a button, which would take Space and the arrows.
  for (QWidget* target : {ui::windowWidget(5), static_cast<QWidget*>(button)}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.key);
      QTest::keyClick(target, c.qtKey, c.modifiers);
      EXPECT_EQ(takeAll(), (std::vector<KeyEvent>{{EventKeyDown, 5, c.key, c.data}}));
    }
  }
  // A held key repeats, and says so.
  QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Right, Qt::NoModifier, QString(), true);
  QApplication::sendEvent(button, &repeat);
  EXPECT_EQ(takeAll(), (std::vector<KeyEvent>{{EventKeyDown, 5, KeyRight, KeyAutoRepeat}}));

  // Tab still walks the gadgets; a text field types.
  QTest::keyClick(button, Qt::Key_Tab);
  auto* field = childOf<QLineEdit>(5);
  QTest::keyClicks(field, "a b");
  EXPECT_EQ(field->text(), QStringLiteral("a b"));
  for (const KeyEvent& e : takeAll()) EXPECT_NE(e.code, EventKeyDown) << e;
}

TEST_F(WindowKeysTest, UntilAskedKeysGoToTheGadgets) {
  auto* button = childOf<QPushButton>(5);
  QTest::keyClick(button, Qt::Key_Space);
  // Only the button's own events.
  const auto onlyGadgetEvents = [](const std::vector<KeyEvent>& seen) {
    if (seen.empty()) return false;
    for (const KeyEvent& e : seen) {
      if (e.code == EventKeyDown) return false;
    }
    return true;
  };
  EXPECT_TRUE(onlyGadgetEvents(takeAll()));
  setWindowKeys(5, WindowKeys::ToWindow);
  setWindowKeys(5, WindowKeys::ToGadgets);
  QTest::keyClick(button, Qt::Key_Space);
  EXPECT_TRUE(onlyGadgetEvents(takeAll()));
  setWindowKeys(77, WindowKeys::ToWindow);  // names no window: nothing happens
}

}  // namespace
}  // namespace lunadio::testing
