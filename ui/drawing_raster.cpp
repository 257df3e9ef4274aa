#include "ui/drawing_raster.h"

#include <algorithm>
#include <cmath>

namespace lunadio::ui {
namespace {

QRgb opaquePixel(std::uint32_t colour) {
  return 0xFF000000u | (colour & 0xFFu) << 16 | (colour & 0xFF00u) | (colour >> 16 & 0xFFu);
}

std::uint32_t colourAt(const Fill& fill, int x, int y) {
  return fill.gradient ? blendColours(fill.back, fill.front, gradientPosition(fill.line, x, y))
                       : fill.colour;
}

// Pixels [from, to) of one row, clipped to the image.
void fillSpan(QImage& image, std::int64_t row, std::int64_t from, std::int64_t to,
              const Fill& fill) {
  if (row < 0 || row >= image.height()) return;
  from = std::max<std::int64_t>(from, 0);
  to = std::min<std::int64_t>(to, image.width());
  if (from >= to) return;
  auto* line = reinterpret_cast<QRgb*>(image.scanLine(static_cast<int>(row)));
  if (!fill.gradient) {
    std::fill(line + from, line + to, opaquePixel(fill.colour));
    return;
  }
  for (auto x = from; x < to; ++x) {
    line[x] = opaquePixel(colourAt(fill, static_cast<int>(x), static_cast<int>(row)));
  }
}

void normalise(std::int64_t& start, std::int64_t& size) {
  if (size < 0) {
    start += size;
    size = -size;
  }
}

bool drawable(const QImage& image) { return !image.isNull() && image.depth() == 32; }

}  // namespace

double gradientPosition(const GradientLine& line, int x, int y) {
  const double dx = static_cast<double>(line.x2) - line.x1;
  const double dy = static_cast<double>(line.y2) - line.y1;
  const double lengthSquared = dx * dx + dy * dy;
  if (lengthSquared == 0.0) return 0.0;
  const double t =
      ((x - static_cast<double>(line.x1)) * dx + (y - static_cast<double>(line.y1)) * dy) /
      lengthSquared;
  return std::clamp(t, 0.0, 1.0);
}

std::uint32_t blendColours(std::uint32_t back, std::uint32_t front, double t) {
  std::uint32_t result = 0;
  for (int shift = 0; shift < 32; shift += 8) {
    const double b = (back >> shift) & 0xFFu;
    const double f = (front >> shift) & 0xFFu;
    const auto channel = static_cast<std::uint32_t>(std::lround(b * (1.0 - t) + f * t));
    result |= std::min<std::uint32_t>(channel, 255) << shift;
  }
  return result;
}

void fillBox(QImage& image, std::int64_t x, std::int64_t y, std::int64_t width, std::int64_t height,
             const Fill& fill) {
  if (!drawable(image)) return;
  normalise(x, width);
  normalise(y, height);
  const std::int64_t top = std::max<std::int64_t>(y, 0);
  const std::int64_t bottom = std::min<std::int64_t>(y + height, image.height());
  for (auto row = top; row < bottom; ++row) fillSpan(image, row, x, x + width, fill);
}

void fillRoundBox(QImage& image, std::int64_t x, std::int64_t y, std::int64_t width,
                  std::int64_t height, std::int64_t radiusX, std::int64_t radiusY,
                  const Fill& fill) {
  if (!drawable(image)) return;
  normalise(x, width);
  normalise(y, height);
  const double rx = std::min(static_cast<double>(std::abs(radiusX)), width / 2.0);
  const double ry = std::min(static_cast<double>(std::abs(radiusY)), height / 2.0);
  const std::int64_t top = std::max<std::int64_t>(y, 0);
  const std::int64_t bottom = std::min<std::int64_t>(y + height, image.height());
  for (auto row = top; row < bottom; ++row) {
    // A pixel belongs to the box when its centre does; the corners are quarter ellipses.
    const double centreY = static_cast<double>(row) + 0.5;
    double inset = 0.0;
    if (rx > 0.0 && ry > 0.0) {
      double dy = 0.0;
      if (centreY < static_cast<double>(y) + ry) {
        dy = static_cast<double>(y) + ry - centreY;
      } else if (centreY > static_cast<double>(y + height) - ry) {
        dy = centreY - (static_cast<double>(y + height) - ry);
      }
      const double ratio = std::min(dy / ry, 1.0);
      inset = rx - rx * std::sqrt(1.0 - ratio * ratio);
    }
    const double left = static_cast<double>(x) + inset;
    const double right = static_cast<double>(x + width) - inset;
    fillSpan(image, row, static_cast<std::int64_t>(std::ceil(left - 0.5)),
             static_cast<std::int64_t>(std::ceil(right - 0.5)), fill);
  }
}

void strokeLine(QImage& image, std::int64_t x1, std::int64_t y1, std::int64_t x2, std::int64_t y2,
                std::uint32_t colour) {
  if (!drawable(image)) return;
  const QRgb pixel = opaquePixel(colour);
  const std::int64_t dx = x2 - x1;
  const std::int64_t dy = y2 - y1;
  const bool alongX = std::abs(dx) >= std::abs(dy);
  // Walk the major axis over the part that lies inside the image only.
  const std::int64_t from = alongX ? std::min(x1, x2) : std::min(y1, y2);
  const std::int64_t to = alongX ? std::max(x1, x2) : std::max(y1, y2);
  const std::int64_t limit = alongX ? image.width() : image.height();
  for (auto major = std::max<std::int64_t>(from, 0); major <= std::min(to, limit - 1); ++major) {
    const std::int64_t run = alongX ? dx : dy;
    const std::int64_t rise = alongX ? dy : dx;
    const std::int64_t start = alongX ? x1 : y1;
    const std::int64_t minorStart = alongX ? y1 : x1;
    const std::int64_t minor =
        run == 0 ? minorStart
                 : minorStart + std::llround(static_cast<double>(major - start) * rise / run);
    const std::int64_t px = alongX ? major : minor;
    const std::int64_t py = alongX ? minor : major;
    if (px < 0 || py < 0 || px >= image.width() || py >= image.height()) continue;
    reinterpret_cast<QRgb*>(image.scanLine(static_cast<int>(py)))[px] = pixel;
  }
}

}  // namespace lunadio::ui
