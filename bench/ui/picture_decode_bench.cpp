// The start-up work on the player's embedded pictures: one 48x48 32-bit icon and six small PNGs
// decoded, five of them resized smoothly to the sizes the panel uses. Target: under 5 ms in all.
// The pictures are drawn here (a shaded disc with a soft edge) at the player's sizes and formats.

#include <benchmark/benchmark.h>

#include <cmath>

#include "tests/ui/test_pictures.h"
#include "ui/images.h"

namespace lunadio {
namespace {

using test::Bytes;

QRgb discPixel(int x, int y, int width, int height) {
  const double dx = (x + 0.5) / width - 0.5;
  const double dy = (y + 0.5) / height - 0.5;
  const double edge = std::clamp((0.45 - std::sqrt(dx * dx + dy * dy)) * 40.0, 0.0, 1.0);
  return qRgba(40 + x * 4, 80 + y * 3, 200, static_cast<int>(edge * 255));
}

Bytes rgbaPng(int width, int height) {
  test::PngLayout layout{width, height, PNG_COLOR_TYPE_RGB_ALPHA, 8, false, {}, {}, {}, false, {}};
  for (int y = 0; y < height; ++y) {
    Bytes row;
    for (int x = 0; x < width; ++x) {
      const QRgb p = discPixel(x, y, width, height);
      row.insert(row.end(),
                 {static_cast<std::uint8_t>(qRed(p)), static_cast<std::uint8_t>(qGreen(p)),
                  static_cast<std::uint8_t>(qBlue(p)), static_cast<std::uint8_t>(qAlpha(p))});
    }
    layout.rows.push_back(row);
  }
  return test::writePng(layout);
}

Bytes palettePng(int width, int height) {
  test::PngLayout layout{width, height, PNG_COLOR_TYPE_PALETTE, 8, false, {}, {}, {}, false, {}};
  for (int i = 0; i < 8; ++i) {
    layout.palette.push_back(
        {static_cast<png_byte>(30 * i), static_cast<png_byte>(255 - 30 * i), 128});
  }
  for (int y = 0; y < height; ++y) {
    Bytes row;
    for (int x = 0; x < width; ++x)
      row.push_back(static_cast<std::uint8_t>(qAlpha(discPixel(x, y, width, height)) / 32));
    layout.rows.push_back(row);
  }
  return test::writePng(layout);
}

Bytes icon48() {
  QImage image(48, 48, QImage::Format_ARGB32);
  for (int y = 0; y < 48; ++y) {
    for (int x = 0; x < 48; ++x) image.setPixel(x, y, discPixel(x, y, 48, 48));
  }
  return test::writeIcon({{48, 48, 32, test::iconEntry32(image)}});
}

struct Picture {
  ObjectNumber number;
  Bytes bytes;
  int width;  // 0: kept at its size
  int height;
};

const std::vector<Picture>& pictures() {
  static const std::vector<Picture> all = {
      {1, icon48(), 0, 0},          {4, palettePng(28, 25), 20, 15}, {6, rgbaPng(20, 19), 0, 0},
      {8, rgbaPng(56, 50), 20, 20}, {9, rgbaPng(48, 48), 20, 20},    {2, rgbaPng(48, 48), 30, 30},
      {3, rgbaPng(48, 48), 30, 30},
  };
  return all;
}

void BM_DecodeAndResizeTheSevenPictures(benchmark::State& state) {
  usePngDecoder();
  for (auto _ : state) {
    for (const Picture& p : pictures()) {
      benchmark::DoNotOptimize(catchImage(p.number, p.bytes.data(), p.bytes.size()));
      if (p.width) benchmark::DoNotOptimize(resizeImage(p.number, p.width, p.height, 0));
    }
  }
  freeImage(ObjectAll);
}
BENCHMARK(BM_DecodeAndResizeTheSevenPictures)->Unit(benchmark::kMillisecond);

void BM_CubicResize48To30(benchmark::State& state) {
  usePngDecoder();
  const Bytes& png = pictures().back().bytes;
  for (auto _ : state) {
    catchImage(2, png.data(), png.size());
    benchmark::DoNotOptimize(resizeImage(2, 30, 30, 0));
  }
  freeImage(ObjectAll);
}
BENCHMARK(BM_CubicResize48To30)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace lunadio

BENCHMARK_MAIN();
