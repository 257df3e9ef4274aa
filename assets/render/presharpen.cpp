#include "assets/render/presharpen.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace lunadio::assets {
namespace {

// The player's smooth resize for pictures with alpha: separable, a Mitchell-Netravali kernel
// (B = C = 1/3) widened by the shrink factor, weights normalised per target pixel, every channel
// of straight ARGB filtered on its own. This models it so the result lands on the shown grid.
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

// Dense target-by-source weights of one axis; the pictures are a few dozen pixels wide.
class AxisFilter {
 public:
  AxisFilter(int sourceSize, int targetSize)
      : source_(sourceSize),
        target_(targetSize),
        weights_(static_cast<std::size_t>(sourceSize) * static_cast<std::size_t>(targetSize), 0.0) {
    const double scale = static_cast<double>(targetSize) / sourceSize;
    const double filterScale = std::min(1.0, scale);
    const double support = 2.0 / filterScale;
    for (int i = 0; i < targetSize; ++i) {
      const double centre = (i + 0.5) / scale;
      const int from = std::max(0, static_cast<int>(std::floor(centre - support)));
      const int to = std::min(sourceSize - 1, static_cast<int>(std::ceil(centre + support)));
      double sum = 0.0;
      for (int j = from; j <= to; ++j) {
        const double weight = mitchell((j + 0.5 - centre) * filterScale);
        at(i, j) = weight;
        sum += weight;
      }
      if (sum == 0.0) {
        at(i, std::clamp(static_cast<int>(centre), 0, sourceSize - 1)) = 1.0;
      } else {
        for (int j = from; j <= to; ++j) at(i, j) /= sum;
      }
    }
  }

  double weight(int target, int source) const {
    return weights_[static_cast<std::size_t>(target) * static_cast<std::size_t>(source_) +
                    static_cast<std::size_t>(source)];
  }
  int source() const { return source_; }
  int target() const { return target_; }

  // A bound on the largest singular value squared (max row sum times max column sum of |w|).
  double gainBound() const {
    double rows = 0.0;
    std::vector<double> columns(static_cast<std::size_t>(source_), 0.0);
    for (int i = 0; i < target_; ++i) {
      double row = 0.0;
      for (int j = 0; j < source_; ++j) {
        row += std::fabs(weight(i, j));
        columns[static_cast<std::size_t>(j)] += std::fabs(weight(i, j));
      }
      rows = std::max(rows, row);
    }
    return rows * *std::max_element(columns.begin(), columns.end());
  }

 private:
  double& at(int target, int source) {
    return weights_[static_cast<std::size_t>(target) * static_cast<std::size_t>(source_) +
                    static_cast<std::size_t>(source)];
  }

  int source_;
  int target_;
  std::vector<double> weights_;
};

// One channel as rows of doubles.
using Plane = std::vector<double>;

Plane shrink(const Plane& in, const AxisFilter& x, const AxisFilter& y) {
  Plane across(static_cast<std::size_t>(x.target() * y.source()), 0.0);
  for (int row = 0; row < y.source(); ++row) {
    for (int i = 0; i < x.target(); ++i) {
      double sum = 0.0;
      for (int j = 0; j < x.source(); ++j) {
        sum += x.weight(i, j) * in[static_cast<std::size_t>(row * x.source() + j)];
      }
      across[static_cast<std::size_t>(row * x.target() + i)] = sum;
    }
  }
  Plane out(static_cast<std::size_t>(x.target() * y.target()), 0.0);
  for (int i = 0; i < y.target(); ++i) {
    for (int column = 0; column < x.target(); ++column) {
      double sum = 0.0;
      for (int j = 0; j < y.source(); ++j) {
        sum += y.weight(i, j) * across[static_cast<std::size_t>(j * x.target() + column)];
      }
      out[static_cast<std::size_t>(i * x.target() + column)] = sum;
    }
  }
  return out;
}

// The transpose of shrink(): spreads a target-sized error back over the source pixels.
Plane spread(const Plane& in, const AxisFilter& x, const AxisFilter& y) {
  Plane down(static_cast<std::size_t>(x.target() * y.source()), 0.0);
  for (int i = 0; i < y.target(); ++i) {
    for (int j = 0; j < y.source(); ++j) {
      const double w = y.weight(i, j);
      if (w == 0.0) continue;
      for (int column = 0; column < x.target(); ++column) {
        down[static_cast<std::size_t>(j * x.target() + column)] +=
            w * in[static_cast<std::size_t>(i * x.target() + column)];
      }
    }
  }
  Plane out(static_cast<std::size_t>(x.source() * y.source()), 0.0);
  for (int row = 0; row < y.source(); ++row) {
    for (int i = 0; i < x.target(); ++i) {
      const double value = down[static_cast<std::size_t>(row * x.target() + i)];
      for (int j = 0; j < x.source(); ++j) {
        out[static_cast<std::size_t>(row * x.source() + j)] += x.weight(i, j) * value;
      }
    }
  }
  return out;
}

Plane channelOf(const QImage& image, int shift) {
  Plane plane(static_cast<std::size_t>(image.width() * image.height()));
  for (int y = 0; y < image.height(); ++y) {
    const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    for (int x = 0; x < image.width(); ++x) {
      plane[static_cast<std::size_t>(y * image.width() + x)] = (line[x] >> shift) & 0xFF;
    }
  }
  return plane;
}

}  // namespace

QImage presharpenForResize(const QImage& shown, const QImage& start) {
  const AxisFilter x(start.width(), shown.width());
  const AxisFilter y(start.height(), shown.height());
  // Projected gradient descent on the squared error, with the step the gain bound allows; a few
  // hundred rounds settle pictures of this size.
  const double step = 1.0 / (x.gainBound() * y.gainBound());
  constexpr int kRounds = 400;
  QImage result(start.size(), QImage::Format_ARGB32);
  for (const int shift : {0, 8, 16, 24}) {
    const Plane target = channelOf(shown, shift);
    Plane stored = channelOf(start, shift);
    for (int round = 0; round < kRounds; ++round) {
      Plane error = shrink(stored, x, y);
      for (std::size_t k = 0; k < error.size(); ++k) error[k] = target[k] - error[k];
      const Plane correction = spread(error, x, y);
      for (std::size_t k = 0; k < stored.size(); ++k) {
        stored[k] = std::clamp(stored[k] + step * correction[k], 0.0, 255.0);
      }
    }
    for (int row = 0; row < result.height(); ++row) {
      auto* line = reinterpret_cast<QRgb*>(result.scanLine(row));
      for (int column = 0; column < result.width(); ++column) {
        const auto value = static_cast<QRgb>(
            std::lround(stored[static_cast<std::size_t>(row * result.width() + column)]));
        line[column] = (shift == 0 ? 0u : line[column] & ~(0xFFu << shift)) | value << shift;
      }
    }
  }
  return result;
}

}  // namespace lunadio::assets
