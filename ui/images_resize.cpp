#include "ui/images_resize.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace lunadio::ui {
namespace {

double mitchell(double x) {
  constexpr double B = 1.0 / 3.0;
  constexpr double C = 1.0 / 3.0;
  x = std::fabs(x);
  if (x < 1.0) {
    return ((12 - 9 * B - 6 * C) * x * x * x + (-18 + 12 * B + 6 * C) * x * x + (6 - 2 * B)) / 6.0;
  }
  if (x < 2.0) {
    return ((-B - 6 * C) * x * x * x + (6 * B + 30 * C) * x * x + (-12 * B - 48 * C) * x +
            (8 * B + 24 * C)) /
           6.0;
  }
  return 0.0;
}

struct Tap {
  int index;
  double weight;
};

// For every target position along one axis, the source pixels it draws from and their weights.
class Taps {
 public:
  Taps(int sourceSize, int targetSize) : first_(static_cast<std::size_t>(targetSize) + 1, 0) {
    const double scale = static_cast<double>(targetSize) / sourceSize;
    const double filterScale = std::min(1.0, scale);
    const double support = 2.0 / filterScale;
    for (int i = 0; i < targetSize; ++i) {
      const double centre = (i + 0.5) / scale;
      const int from = std::max(0, static_cast<int>(std::floor(centre - support)));
      const int to = std::min(sourceSize - 1, static_cast<int>(std::ceil(centre + support)));
      const std::size_t start = taps_.size();
      double sum = 0.0;
      for (int j = from; j <= to; ++j) {
        const double weight = mitchell((j + 0.5 - centre) * filterScale);
        if (weight == 0.0) continue;
        taps_.push_back({j, weight});
        sum += weight;
      }
      if (sum == 0.0) {
        taps_.resize(start);
        taps_.push_back({std::clamp(static_cast<int>(centre), 0, sourceSize - 1), 1.0});
      } else {
        for (std::size_t k = start; k < taps_.size(); ++k) taps_[k].weight /= sum;
      }
      first_[static_cast<std::size_t>(i) + 1] = taps_.size();
    }
  }
  const Tap* begin(int i) const { return taps_.data() + first_[static_cast<std::size_t>(i)]; }
  const Tap* end(int i) const { return taps_.data() + first_[static_cast<std::size_t>(i) + 1]; }

 private:
  std::vector<std::size_t> first_;
  std::vector<Tap> taps_;
};

std::uint32_t weighPixels(const Tap* begin, const Tap* end, const QRgb* pixels,
                          std::ptrdiff_t step) {
  double channels[4] = {0, 0, 0, 0};
  for (const Tap* tap = begin; tap != end; ++tap) {
    const QRgb pixel = pixels[tap->index * step];
    for (int c = 0; c < 4; ++c) channels[c] += tap->weight * ((pixel >> (8 * c)) & 0xFF);
  }
  std::uint32_t result = 0;
  for (int c = 0; c < 4; ++c) {
    const auto value =
        static_cast<std::uint32_t>(std::clamp(std::floor(channels[c] + 0.5), 0.0, 255.0));
    result |= value << (8 * c);
  }
  return result;
}

QImage horizontalPass(const QImage& source, int width) {
  QImage target(width, source.height(), QImage::Format_ARGB32);
  if (target.isNull()) return target;
  const Taps taps(source.width(), width);
  for (int y = 0; y < source.height(); ++y) {
    const auto* in = reinterpret_cast<const QRgb*>(source.constScanLine(y));
    auto* out = reinterpret_cast<QRgb*>(target.scanLine(y));
    for (int x = 0; x < width; ++x) out[x] = weighPixels(taps.begin(x), taps.end(x), in, 1);
  }
  return target;
}

QImage verticalPass(const QImage& source, int height) {
  QImage target(source.width(), height, QImage::Format_ARGB32);
  if (target.isNull()) return target;
  const Taps taps(source.height(), height);
  const auto* in = reinterpret_cast<const QRgb*>(source.constBits());
  const std::ptrdiff_t step = source.bytesPerLine() / static_cast<std::ptrdiff_t>(sizeof(QRgb));
  for (int y = 0; y < height; ++y) {
    auto* out = reinterpret_cast<QRgb*>(target.scanLine(y));
    for (int x = 0; x < source.width(); ++x) {
      out[x] = weighPixels(taps.begin(y), taps.end(y), in + x, step);
    }
  }
  return target;
}

}  // namespace

QImage resizeCubic(const QImage& source, int width, int height) {
  if (source.isNull() || width <= 0 || height <= 0) return {};
  const QImage input = source.convertToFormat(QImage::Format_ARGB32);
  const std::int64_t sourceWidth = input.width();
  const std::int64_t sourceHeight = input.height();
  if (sourceWidth * height < sourceHeight * width) {
    const QImage middle = verticalPass(input, height);
    return middle.isNull() ? middle : horizontalPass(middle, width);
  }
  const QImage middle = horizontalPass(input, width);
  return middle.isNull() ? middle : verticalPass(middle, height);
}

QImage resizeNearest(const QImage& source, int width, int height) {
  if (source.isNull() || width <= 0 || height <= 0) return {};
  QImage target(width, height, source.format());
  if (target.isNull()) return target;
  const std::int64_t sourceWidth = source.width();
  const std::int64_t sourceHeight = source.height();
  std::vector<int> columns(static_cast<std::size_t>(width));
  for (int x = 0; x < width; ++x) {
    columns[static_cast<std::size_t>(x)] =
        static_cast<int>((2 * x + 1) * sourceWidth / (2 * width));
  }
  for (int y = 0; y < height; ++y) {
    const int sourceRow = static_cast<int>((2 * std::int64_t{y} + 1) * sourceHeight / (2 * height));
    const auto* in = reinterpret_cast<const QRgb*>(source.constScanLine(sourceRow));
    auto* out = reinterpret_cast<QRgb*>(target.scanLine(y));
    for (int x = 0; x < width; ++x) out[x] = in[columns[static_cast<std::size_t>(x)]];
  }
  return target;
}

QImage resizeSmoothOpaque(const QImage& source, int width, int height) {
  if (source.isNull() || width <= 0 || height <= 0) return {};
  return source.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
      .convertToFormat(source.format());
}

}  // namespace lunadio::ui
