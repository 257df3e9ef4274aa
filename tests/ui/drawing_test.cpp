// Drawing: gradients, boxes, rounded boxes and lines on an image output, the drawing context's
// lifetime, and one context per thread.

#include <gtest/gtest.h>

#include <thread>

#include "core/strings.h"
#include "ui/drawing.h"
#include "ui/drawing_raster.h"
#include "ui/images.h"
#include "ui/ui_internal.h"

namespace lunadio {
namespace {

constexpr ObjectNumber kImage = 3;
constexpr Colour kRed = rgb(255, 0, 0);
constexpr Colour kBack = rgb(225, 100, 100);

QRgb shown(Colour colour) { return qRgb(redOf(colour), greenOf(colour), blueOf(colour)); }

class Drawing : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(createImage(kImage, 12, 10, 24), 0); }
  void TearDown() override {
    stopDrawing();
    freeImage(ObjectAll);
  }
  static QImage pixels() { return ui::imagePixelsForHandle(imageHandle(kImage)); }
  static void start() { ASSERT_NE(startDrawing(imageOutput(kImage)), 0); }
};

TEST(GradientMath, PositionAlongTheLine) {
  struct Case {
    ui::GradientLine line;
    int x, y;
    double t;
  };
  const Case cases[] = {
      {{0, 0, 0, 4}, 7, 0, 0.0},   {{0, 0, 0, 4}, 7, 2, 0.5},  {{0, 0, 0, 4}, 0, 9, 1.0},
      {{0, 9, 0, 4}, 3, 9, 0.0},   {{0, 9, 0, 4}, 3, 8, 0.2},  {{0, 9, 0, 4}, 3, 1, 1.0},
      {{2, 5, 6, 5}, 4, 100, 0.5}, {{2, 5, 6, 5}, -3, 0, 0.0}, {{0, 0, 4, 4}, 4, 0, 0.5},
      {{0, 0, 4, 4}, 3, 3, 0.75},  {{1, 1, 1, 1}, 5, 5, 0.0},
  };
  for (const auto& c : cases) {
    EXPECT_DOUBLE_EQ(ui::gradientPosition(c.line, c.x, c.y), c.t) << c.x << "," << c.y;
  }
}

TEST(GradientMath, BlendIsPerChannelWithAlpha) {
  EXPECT_EQ(ui::blendColours(0xFF000000u, 0xFFFFFFFFu, 0.0), 0xFF000000u);
  EXPECT_EQ(ui::blendColours(0xFF000000u, 0xFFFFFFFFu, 1.0), 0xFFFFFFFFu);
  EXPECT_EQ(ui::blendColours(0x00000000u, 0xC8643296u, 0.5), 0x6432194Bu);
  EXPECT_EQ(ui::blendColours(0x80FF0000u, 0x0000FF00u, 0.25), 0x60BF4000u);
}

TEST_F(Drawing, VerticalGradientRows) {
  start();
  backColor(kBack);
  frontColor(kRed);
  drawingMode(DrawingModeGradient);
  linearGradient(0, 0, 0, 4);
  drawBox(0, 0, 12, 10);
  stopDrawing();
  const QImage image = pixels();
  for (int x = 0; x < 12; ++x) {
    EXPECT_EQ(image.pixel(x, 0), shown(kBack));
    EXPECT_EQ(image.pixel(x, 2), qRgb(240, 50, 50));
    for (int y = 4; y < 10; ++y) EXPECT_EQ(image.pixel(x, y), shown(kRed)) << x << "," << y;
  }
}

TEST_F(Drawing, MirroredProgressBarGradient) {
  start();
  backColor(kBack);
  frontColor(kRed);
  drawingMode(DrawingModeGradient);
  linearGradient(0, 0, 0, 4);
  drawBox(1, 1, 6, 5);
  linearGradient(0, 9, 0, 4);
  drawBox(1, 4, 6, 5);
  stopDrawing();
  const QImage image = pixels();
  // Rows 1..8 run back-ish, front in the middle, back-ish again, symmetric about rows 4 and 5.
  EXPECT_EQ(image.pixel(3, 4), shown(kRed));
  EXPECT_EQ(image.pixel(3, 1), qRgb(233, 75, 75));
  EXPECT_EQ(image.pixel(3, 8), qRgb(231, 80, 80));
  EXPECT_EQ(image.pixel(7, 4), qRgb(0, 0, 0));  // outside the boxes
  EXPECT_EQ(image.pixel(3, 9), qRgb(0, 0, 0));
}

TEST_F(Drawing, BoxesUseFrontOrGivenColourFromEitherSideAndClip) {
  start();
  EXPECT_EQ(outputWidth(), 12);
  drawBox(2, 2, 2, 2);  // the context starts with opaque white
  drawBox(9, 7, -3, -2, kRed);
  drawBox(-1000000, 9, 2000000000, 5, rgb(0, 0, 255));
  stopDrawing();
  const QImage image = pixels();
  EXPECT_EQ(image.pixel(2, 2), qRgb(255, 255, 255));
  EXPECT_EQ(image.pixel(3, 3), qRgb(255, 255, 255));
  EXPECT_EQ(image.pixel(4, 4), qRgb(0, 0, 0));
  EXPECT_EQ(image.pixel(6, 5), shown(kRed));
  EXPECT_EQ(image.pixel(8, 6), shown(kRed));
  EXPECT_EQ(image.pixel(9, 7), qRgb(0, 0, 0));
  EXPECT_EQ(image.pixel(5, 5), qRgb(0, 0, 0));
  for (int x = 0; x < 12; ++x) EXPECT_EQ(image.pixel(x, 9), qRgb(0, 0, 255));
}

TEST_F(Drawing, RoundBoxCornersAndRadiiCutToHalfTheBox) {
  start();
  drawRoundBox(0, 0, 12, 10, 3, 2, kRed);
  stopDrawing();
  QImage image = pixels();
  EXPECT_EQ(image.pixel(0, 0), qRgb(0, 0, 0));
  EXPECT_EQ(image.pixel(11, 9), qRgb(0, 0, 0));
  EXPECT_EQ(image.pixel(1, 0), shown(kRed));
  EXPECT_EQ(image.pixel(0, 1), shown(kRed));
  EXPECT_EQ(image.pixel(6, 0), shown(kRed));
  EXPECT_EQ(image.pixel(0, 5), shown(kRed));

  // Radii beyond half the box equal radii of exactly half; negative sizes mirror the box.
  auto draw = [](int x, int y, int w, int h, int rx, int ry) {
    ASSERT_NE(createImage(kImage, 12, 10, 24), 0);
    start();
    drawRoundBox(x, y, w, h, rx, ry, kRed);
    stopDrawing();
  };
  draw(1, 1, 10, 8, 5, 4);
  const QImage half = pixels();
  draw(1, 1, 10, 8, 500, 400);
  EXPECT_EQ(pixels(), half);
  draw(11, 9, -10, -8, 5, 4);
  EXPECT_EQ(pixels(), half);
  EXPECT_EQ(half.pixel(1, 1), qRgb(0, 0, 0));
  EXPECT_EQ(half.pixel(6, 5), shown(kRed));
}

TEST_F(Drawing, LinesIncludeBothEndsAndClip) {
  start();
  frontColor(kRed);
  drawLine(0, 0, 11, 0);
  drawLine(2, 9, 2, 3);
  drawLine(4, 2, 8, 6, rgb(0, 255, 0));
  drawLine(-2000000000, 5, 2000000000, 5, rgb(0, 0, 255));
  stopDrawing();
  const QImage image = pixels();
  for (int x = 0; x < 12; ++x) EXPECT_EQ(image.pixel(x, 0), shown(kRed));
  // Row 5 is crossed by the last line.
  for (int y = 3; y <= 9; ++y) {
    if (y != 5) {
      EXPECT_EQ(image.pixel(2, y), shown(kRed)) << y;
    }
  }
  EXPECT_EQ(image.pixel(2, 2), qRgb(0, 0, 0));
  for (int i = 0; i <= 4; ++i) {
    if (i != 3) {
      EXPECT_EQ(image.pixel(4 + i, 2 + i), qRgb(0, 255, 0)) << i;
    }
  }
  EXPECT_EQ(image.pixel(11, 5), qRgb(0, 0, 255));
}

TEST_F(Drawing, NothingHappensWithoutAnOpenDrawing) {
  EXPECT_EQ(startDrawing(0), 0);
  EXPECT_EQ(startDrawing(imageOutput(77)), 0);
  EXPECT_EQ(imageOutput(77), 0);
  EXPECT_EQ(canvasOutput(12345), 0);
  EXPECT_EQ(windowOutput(12345), 0);
  drawBox(0, 0, 12, 10, kRed);
  drawLine(0, 0, 11, 9);
  EXPECT_EQ(outputWidth(), 0);
  start();
  freeImage(kImage);  // the output disappears while drawing
  drawBox(0, 0, 5, 5, kRed);
  stopDrawing();
  ASSERT_NE(createImage(kImage, 12, 10, 24), 0);
  EXPECT_EQ(pixels().pixel(0, 0), qRgb(0, 0, 0));
}

TEST_F(Drawing, EachThreadHasItsOwnContext) {
  ASSERT_NE(createImage(4, 2, 2, 24), 0);
  start();
  frontColor(kRed);
  std::thread worker([] {
    startDrawing(imageOutput(4));
    frontColor(rgb(0, 0, 255));
    drawBox(0, 0, 2, 2);
    stopDrawing();
  });
  worker.join();
  drawBox(0, 0, 1, 1);
  stopDrawing();
  EXPECT_EQ(pixels().pixel(0, 0), shown(kRed));
  EXPECT_EQ(ui::imagePixelsForHandle(imageHandle(4)).pixel(1, 1), qRgb(0, 0, 255));
}

}  // namespace
}  // namespace lunadio
