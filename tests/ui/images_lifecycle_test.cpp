// The start and end routines of images, fonts and the tray run at their stages.

#include <gtest/gtest.h>

#include "core/lifecycle.h"
#include "ui/fonts.h"
#include "ui/images.h"
#include "ui/tray.h"

namespace lunadio {
namespace {

TEST(UiGfxLifecycle, ProgramEndFreesIconsImagesAndFonts) {
  clearLifecycle();
  registerUiGfxLifecycle();
  ASSERT_TRUE(runStartSequence());
  EXPECT_EQ(displayDpi(), 96);
  ASSERT_NE(createImage(1, 4, 4), 0);
  ASSERT_NE(loadFont(17, u"Segoe UI Semilight", 11, FontHighQuality), 0);
  ASSERT_NE(addSysTrayIcon(0, 0x99, imageHandle(1)), 0);
  runEndSequence();
  EXPECT_EQ(imageHandle(1), 0);
  EXPECT_EQ(fontHandle(17), 0);
  EXPECT_EQ(sysTrayIconToolTip(0, u"gone"), 0);
  clearLifecycle();
}

}  // namespace
}  // namespace lunadio
