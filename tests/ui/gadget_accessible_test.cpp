// A screen reader's view of gadgets through Qt's accessibility interfaces, offscreen (roles, values
// and presses are read end to end through AT-SPI by tests/e2e/sni-atspi-e2e.sh).
#include <QAccessible>
#include <QWidget>

#include "tests/ui/test_pictures.h"
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
