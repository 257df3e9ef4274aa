// Fonts: DPI scaling of the pixel height, the flags, the fallback face and the font table.

#include <gtest/gtest.h>

#include <QFontDatabase>

#include "ui/fonts.h"
#include "ui/fonts_internal.h"
#include "ui/ui_internal.h"

namespace lunadio {
namespace {

class Fonts : public ::testing::Test {
 protected:
  void TearDown() override {
    freeFont(ObjectAll);
    ui::readDisplayDpi();
  }
};

struct HeightCase {
  int dpi;
  int points;
  int pixels;
};

TEST_F(Fonts, PixelHeightFollowsTheDisplayDpi) {
  const HeightCase cases[] = {
      {96, 11, 15},  {144, 11, 22}, {96, 20, 27}, {96, 18, 24}, {96, 10, 13},
      {120, 11, 18}, {72, 9, 9},    {96, 0, 0},   {192, 1, 3},
  };
  for (const auto& c : cases) {
    ui::setDisplayDpi(c.dpi);
    EXPECT_EQ(fontPixelHeight(c.points), c.pixels) << c.points << " pt at " << c.dpi;
    if (c.pixels > 0) {
      const FontHandle handle = loadFont(17, u"Segoe UI Semilight", c.points, FontHighQuality);
      ASSERT_NE(handle, 0);
      EXPECT_EQ(ui::fontForHandle(handle)->pixelSize(), c.pixels);
    }
  }
}

TEST_F(Fonts, TheOffscreenDisplayReadsAsNinetySixDpi) {
  ui::readDisplayDpi();
  EXPECT_EQ(displayDpi(), 96);
}

TEST_F(Fonts, FlagsBecomeFontProperties) {
  const FontHandle plain = loadFont(0, u"Sans", 10);
  const FontHandle styled = loadFont(
      1, u"Sans", 10, FontBold | FontItalic | FontUnderline | FontStrikeOut | FontHighQuality);
  const QFont* p = ui::fontForHandle(plain);
  const QFont* s = ui::fontForHandle(styled);
  ASSERT_TRUE(p && s);
  EXPECT_EQ(p->weight(), QFont::Normal);
  EXPECT_FALSE(p->italic() || p->underline() || p->strikeOut());
  EXPECT_EQ(s->weight(), QFont::Bold);
  EXPECT_TRUE(s->italic() && s->underline() && s->strikeOut());
  EXPECT_TRUE(s->styleStrategy() & QFont::PreferAntialias);
}

TEST_F(Fonts, AMissingFaceFallsBackToTheDesktopFont) {
  const FontHandle handle = loadFont(3, u"No Such Face Anywhere 12345", 10);
  ASSERT_NE(handle, 0);
  EXPECT_EQ(ui::fontForHandle(handle)->family(),
            QFontDatabase::systemFont(QFontDatabase::GeneralFont).family());
}

TEST_F(Fonts, TableNumbersHandlesAndReplacement) {
  const FontHandle first = loadFont(2, u"Sans", 10);
  const FontHandle second = loadFont(2, u"Sans", 12);
  EXPECT_NE(first, second);
  EXPECT_EQ(fontHandle(2), second);
  EXPECT_EQ(ui::fontForHandle(first), nullptr);

  const FontHandle dynamic = loadFont(ObjectAny, u"Sans", 10);
  ASSERT_GE(dynamic, kFirstDynamicId);
  EXPECT_NE(fontHandle(static_cast<ObjectNumber>(dynamic)), 0);

  freeFont(2);
  EXPECT_EQ(fontHandle(2), 0);
  EXPECT_EQ(ui::fontForHandle(second), nullptr);
  freeFont(ObjectAll);
  EXPECT_EQ(fontHandle(static_cast<ObjectNumber>(dynamic)), 0);
  // Unknown numbers and handles name nothing.
  freeFont(99);
  EXPECT_EQ(fontHandle(99), 0);
  EXPECT_EQ(ui::fontForHandle(0), nullptr);
  EXPECT_EQ(ui::fontForHandle(12345), nullptr);
}

}  // namespace
}  // namespace lunadio
