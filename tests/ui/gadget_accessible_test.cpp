// A screen reader's view of gadgets through Qt's accessibility interfaces, offscreen.
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QAccessibleValueInterface>
#include <QWidget>

#include "tests/ui/test_pictures.h"
#include "ui/gadgets_internal.h"
#include "ui/images.h"
#include "ui/ui_internal.h"
#include "ui_test_support.h"

namespace lunadio::testing {
namespace {

QAccessibleInterface* viewOf(ObjectNumber window, ObjectNumber gadget) {
  QWidget* parent = ui::windowWidget(window);
  QWidget* child = parent ? parent->childAt(gadgetX(gadget) + 1, gadgetY(gadget) + 1) : nullptr;
  while (child && child->parentWidget() != parent) child = child->parentWidget();
  return child ? QAccessible::queryAccessibleInterface(child) : nullptr;
}

using GadgetAccessibleTest = UiTest;

TEST_F(GadgetAccessibleTest, RolesNamesValuesAndThePressOfAPictureButton) {
  ui::overrideGadgetImageLookup([](std::intptr_t) {
    QImage image(30, 30, QImage::Format_ARGB32);
    image.fill(Qt::blue);
    return image;
  });
  ASSERT_NE(openWindow(0, 0, 0, 300, 155, u"Lunadio", WindowBorderless), 0);
  createImageGadget(0, 50, 10, 31, 31, 1);
  createCanvasGadget(19, 10, 70, 280, 10);
  createCanvasGadget(5, 10, 90, 280, 20);
  createCanvasGadget(8, 0, 0, 40, 10);
  createButtonGadget(6, 10, 120, 70, 25, u"Couleur");
  createStringGadget(1, 100, 120, 100, 20, u"Lequel ?");
  setGadgetAccessibility(0, GadgetRole::Button, u"Lecture");
  setGadgetAccessibility(19, GadgetRole::ProgressBar, u"Position");
  setGadgetAccessibility(5, GadgetRole::Slider, u"Volume");
  setGadgetAccessibility(8, GadgetRole::Picture, u"Cadre");
  setGadgetAccessibility(1, GadgetRole::Own, u"Mot recherché");
  setGadgetAccessibleValue(5, 80);
  setGadgetAccessibleValue(19, 140);  // read as a percentage: kept within 0..100

  struct Case {
    ObjectNumber gadget;
    QAccessible::Role role;
    const char* name;
    int value;  // -1: no value
  };
  const Case cases[] = {
      {0, QAccessible::Button, "Lecture", -1}, {19, QAccessible::ProgressBar, "Position", 100},
      {5, QAccessible::Slider, "Volume", 80},  {8, QAccessible::Graphic, "Cadre", -1},
      {6, QAccessible::Button, "Couleur", -1}, {1, QAccessible::EditableText, "Mot recherché", -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QAccessibleInterface* view = viewOf(0, c.gadget);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->role(), c.role);
    EXPECT_EQ(view->text(QAccessible::Name), QString::fromUtf8(c.name));
    QAccessibleValueInterface* value = view->valueInterface();
    if (c.value < 0) {
      EXPECT_EQ(value, nullptr);
    } else {
      ASSERT_NE(value, nullptr);
      EXPECT_EQ(value->currentValue().toInt(), c.value);
      EXPECT_EQ(view->text(QAccessible::Value), QStringLiteral("%1 %").arg(c.value));
    }
  }

  // Pressing the picture through the reader acts as a left click on it.
  QAccessibleActionInterface* actions = viewOf(0, 0)->actionInterface();
  ASSERT_NE(actions, nullptr);
  takeEvents();
  actions->doAction(QAccessibleActionInterface::pressAction());
  EXPECT_EQ(takeEvents(), (std::vector<SeenEvent>{{EventGadget, 0, 0, EventTypeLeftClick}}));
  ui::overrideGadgetImageLookup(nullptr);
}

// The play/pause picture names itself: the gadget's name follows the image it shows.
TEST_F(GadgetAccessibleTest, APictureGadgetIsNamedAfterTheImageItShows) {
  usePngDecoder();
  test::PngLayout layout;
  layout.width = 30;
  layout.height = 30;
  layout.rows.assign(30, test::Bytes(30 * 4, 0x80));
  const test::Bytes png = test::writePng(layout);
  ASSERT_NE(catchImage(40, png.data(), png.size()), 0);
  ASSERT_NE(catchImage(41, png.data(), png.size()), 0);
  setImageName(40, u"Lecture");
  setImageName(41, u"Pause");
  resizeImage(41, 20, 20);  // the name stays with the image
  ASSERT_NE(openWindow(0, 0, 0, 300, 155, u"Lunadio", WindowBorderless), 0);
  createImageGadget(0, 50, 10, 31, 31, imageHandle(40));
  createImageButtonGadget(1, 10, 10, 30, 25, imageHandle(41));
  EXPECT_EQ(viewOf(0, 0)->role(), QAccessible::Button);
  EXPECT_EQ(viewOf(0, 0)->text(QAccessible::Name), QStringLiteral("Lecture"));
  EXPECT_EQ(viewOf(0, 1)->text(QAccessible::Name), QStringLiteral("Pause"));
  setGadgetState(0, imageHandle(41));
  EXPECT_EQ(viewOf(0, 0)->text(QAccessible::Name), QStringLiteral("Pause"));
  freeImage(40);
  freeImage(41);
}

}  // namespace
}  // namespace lunadio::testing
