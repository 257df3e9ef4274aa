#pragma once
// The pixel work of the drawing library: pure functions on a 32-bit QImage, any thread.

#include <QImage>

#include <cstdint>

namespace lunadio::ui {

struct GradientLine {
  int x1 = 0, y1 = 0, x2 = 1, y2 = 0;
};

// Position of a pixel along the line: 0 at or before the start, 1 at or beyond the end, the
// projection onto the line between. A line of zero length gives 0 everywhere.
double gradientPosition(const GradientLine& line, int x, int y);

// back x (1 - t) + front x t per channel, alpha included, each rounded to the nearest integer.
// Colours in the system's layout (red in the lowest byte).
std::uint32_t blendColours(std::uint32_t back, std::uint32_t front, double t);

// How filled pixels get their colour.
struct Fill {
  bool gradient = false;
  std::uint32_t colour = 0;  // when not a gradient
  std::uint32_t back = 0;
  std::uint32_t front = 0;
  GradientLine line;
};

void fillBox(QImage& image, std::int64_t x, std::int64_t y, std::int64_t width, std::int64_t height,
             const Fill& fill);
void fillRoundBox(QImage& image, std::int64_t x, std::int64_t y, std::int64_t width,
                  std::int64_t height, std::int64_t radiusX, std::int64_t radiusY,
                  const Fill& fill);
void strokeLine(QImage& image, std::int64_t x1, std::int64_t y1, std::int64_t x2, std::int64_t y2,
                std::uint32_t colour);

}  // namespace lunadio::ui
