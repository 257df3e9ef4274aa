// The image table, the .ico and bitmap readers, and resizing.

#include <gtest/gtest.h>

#include <cmath>
#include <ostream>
#include <string>

#include "tests/ui/test_pictures.h"
#include "ui/images.h"
#include "ui/ui_internal.h"

namespace lunadio {
namespace {

using test::Bytes;

class Images : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { usePngDecoder(); }
  void TearDown() override { freeImage(ObjectAll); }

  static QImage pixels(ObjectNumber number) {
    return ui::imagePixelsForHandle(imageHandle(number));
  }
};

QImage patternImage(int width, int height, int seed, bool opaque = false) {
  QImage image(width, height, QImage::Format_ARGB32);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const QRgb p = test::patternPixel(x, y, seed);
      image.setPixel(x, y, opaque ? (p | 0xFF000000u) : p);
    }
  }
  return image;
}

Bytes pngOf(const QImage& image) {
  test::PngLayout layout{
      image.width(), image.height(), PNG_COLOR_TYPE_RGB_ALPHA, 8, false, {}, {}, {}, false, {}};
  for (int y = 0; y < image.height(); ++y) {
    Bytes row;
    for (int x = 0; x < image.width(); ++x) {
      const QRgb p = image.pixel(x, y);
      row.insert(row.end(),
                 {static_cast<std::uint8_t>(qRed(p)), static_cast<std::uint8_t>(qGreen(p)),
                  static_cast<std::uint8_t>(qBlue(p)), static_cast<std::uint8_t>(qAlpha(p))});
    }
    layout.rows.push_back(row);
  }
  return test::writePng(layout);
}

// -- the table

TEST_F(Images, NumbersHandlesAndReplacement) {
  const Bytes first = pngOf(patternImage(4, 3, 1));
  const Bytes second = pngOf(patternImage(6, 5, 2));
  const ImageHandle handle = catchImage(2, first.data(), first.size());
  ASSERT_NE(handle, 0);
  EXPECT_EQ(imageHandle(2), handle);
  EXPECT_NE(handle, 2);
  // Pixels are found by number and by handle alike.
  EXPECT_EQ(ui::imagePixelsForHandle(2), ui::imagePixelsForHandle(handle));

  // Catching under a used number replaces the image; the old handle names nothing any more.
  const ImageHandle replaced = catchImage(2, second.data(), second.size());
  EXPECT_NE(replaced, handle);
  EXPECT_EQ(imageWidth(2), 6);
  EXPECT_TRUE(ui::imagePixelsForHandle(handle).isNull());

  const ImageHandle dynamic = catchImage(ObjectAny, first.data(), first.size());
  ASSERT_GE(dynamic, kFirstDynamicId);
  EXPECT_EQ(imageWidth(static_cast<ObjectNumber>(dynamic)), 4);

  freeImage(ObjectAll);
  EXPECT_EQ(imageHandle(2), 0);
  EXPECT_EQ(imageHandle(static_cast<ObjectNumber>(dynamic)), 0);
  EXPECT_TRUE(ui::imagePixelsForHandle(replaced).isNull());
}

TEST_F(Images, UnknownNumbersDoNothing) {
  for (ObjectNumber number : {0, 7, 12345, kFirstDynamicId + 99, -5}) {
    EXPECT_EQ(imageHandle(number), 0);
    EXPECT_EQ(resizeImage(number, 10, 10, 0), 0);
    EXPECT_EQ(imageWidth(number), 0);
    freeImage(number);
  }
  EXPECT_TRUE(ui::imagePixelsForHandle(0).isNull());
  EXPECT_TRUE(ui::imagePixelsForHandle(0x40001234).isNull());
}

// -- .ico files

TEST_F(Images, IconWith32BitAlphaKeepsItsAlphaAndIsNeverResized) {
  const QImage source = patternImage(48, 48, 7);
  const Bytes ico = test::writeIcon({{48, 48, 32, test::iconEntry32(source)}});
  const ImageHandle handle = catchImage(1, ico.data(), ico.size());
  ASSERT_NE(handle, 0);
  EXPECT_EQ(imageFormat(1), ImageFormatIcon);
  EXPECT_EQ(imageDepth(1), 32);
  EXPECT_EQ(pixels(1), source);
  EXPECT_EQ(resizeImage(1, 20, 20, 0), handle);
  EXPECT_EQ(imageWidth(1), 48);
}

TEST_F(Images, IconMasksGiveTransparency) {
  // A 32-bit entry whose alpha bytes are all 0 takes its transparency from the AND mask.
  QImage noAlpha = patternImage(5, 4, 3);
  std::vector<bool> mask(20, false);
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 5; ++x) noAlpha.setPixel(x, y, noAlpha.pixel(x, y) & 0xFFFFFFu);
  }
  mask[0] = mask[7] = mask[19] = true;
  const Bytes ico = test::writeIcon({{5, 4, 32, test::iconEntry32(noAlpha, true, mask)}});
  ASSERT_NE(catchImage(1, ico.data(), ico.size()), 0);
  const QImage decoded = pixels(1);
  for (int i = 0; i < 20; ++i) {
    const QRgb p = decoded.pixel(i % 5, i / 5);
    EXPECT_EQ(qAlpha(p), mask[static_cast<std::size_t>(i)] ? 0 : 255) << i;
    EXPECT_EQ(p & 0xFFFFFFu, noAlpha.pixel(i % 5, i / 5) & 0xFFFFFFu);
  }

  // An 8-bit palette entry: colours from the palette, alpha from the mask.
  Bytes entry;
  test::putInfoHeader(entry, 3, 4, 8, 2);
  test::putU32(entry, 0x00112233);  // blue 0x33, green 0x22, red 0x11
  test::putU32(entry, 0x00AABBCC);
  // Rows bottom-up, padded to 4 bytes: the picture's top row is 0 1 0, its bottom row 1 1 1.
  entry.insert(entry.end(), {1, 1, 1, 0, 0, 1, 0, 0});
  // AND mask rows bottom-up, 4 bytes each: bottom row's first pixel transparent.
  entry.insert(entry.end(), {0x80, 0, 0, 0, 0, 0, 0, 0});
  const Bytes paletteIco = test::writeIcon({{3, 2, 8, entry}});
  ASSERT_NE(catchImage(2, paletteIco.data(), paletteIco.size()), 0);
  const QImage palettePixels = pixels(2);
  EXPECT_EQ(palettePixels.pixel(0, 0), qRgba(0x11, 0x22, 0x33, 255));
  EXPECT_EQ(palettePixels.pixel(1, 0), qRgba(0xAA, 0xBB, 0xCC, 255));
  EXPECT_EQ(qAlpha(palettePixels.pixel(0, 1)), 0);
  EXPECT_EQ(palettePixels.pixel(1, 1), qRgba(0xAA, 0xBB, 0xCC, 255));
  EXPECT_EQ(imageSourceDepth(2), 8);
}

TEST_F(Images, IconPicksTheLargestEntryAndReadsPngEntries) {
  const QImage small = patternImage(16, 16, 1);
  const QImage large = patternImage(32, 32, 2);
  const Bytes ico =
      test::writeIcon({{16, 16, 32, test::iconEntry32(small)}, {32, 32, 32, pngOf(large)}});
  ASSERT_NE(catchImage(1, ico.data(), ico.size()), 0);
  EXPECT_EQ(pixels(1), large);
  EXPECT_EQ(imageFormat(1), ImageFormatIcon);
}

TEST_F(Images, DamagedIconsFail) {
  const Bytes good = test::writeIcon({{8, 8, 32, test::iconEntry32(patternImage(8, 8, 1))}});
  // Cut anywhere inside the header, directory or colour rows (the trailing mask may be cut).
  constexpr std::size_t kColourEnd = 6 + 16 + 40 + 8 * 8 * 4;
  for (std::size_t size = 0; size < kColourEnd; ++size) {
    ASSERT_EQ(catchImage(1, good.data(), size), 0) << size;
  }
  Bytes hugeEntry = good;
  hugeEntry[6 + 16 + 4] = 0xFF;  // width 0x7FFF00FF...
  hugeEntry[6 + 16 + 7] = 0x7F;
  EXPECT_EQ(catchImage(1, hugeEntry.data(), hugeEntry.size()), 0);
  Bytes offsetOutside = good;
  offsetOutside[6 + 12 + 3] = 0x40;
  EXPECT_EQ(catchImage(1, offsetOutside.data(), offsetOutside.size()), 0);
  EXPECT_EQ(imageHandle(1), 0);
}

// -- bitmap files

TEST_F(Images, BitmapFilesBothRowOrders) {
  for (bool topDown : {false, true}) {
    Bytes bmp = {'B', 'M'};
    test::putU32(bmp, 0);
    test::putU32(bmp, 0);
    test::putU32(bmp, 14 + 40);
    test::putInfoHeader(bmp, 2, topDown ? -2 : 2, 24, 0);
    // Stored rows (4-byte padded): first stored row is the top row when top-down.
    const Bytes first = {0, 0, 255, 0, 255, 0, 0, 0};       // red, green
    const Bytes second = {255, 0, 0, 255, 255, 255, 0, 0};  // blue, white
    bmp.insert(bmp.end(), first.begin(), first.end());
    bmp.insert(bmp.end(), second.begin(), second.end());
    ASSERT_NE(catchImage(3, bmp.data(), bmp.size()), 0);
    EXPECT_EQ(imageFormat(3), ImageFormatBmp);
    EXPECT_EQ(imageDepth(3), 24);
    const QImage image = pixels(3);
    const int firstRow = topDown ? 0 : 1;
    EXPECT_EQ(image.pixel(0, firstRow), qRgb(255, 0, 0));
    EXPECT_EQ(image.pixel(1, firstRow), qRgb(0, 255, 0));
    EXPECT_EQ(image.pixel(0, 1 - firstRow), qRgb(0, 0, 255));
    EXPECT_EQ(image.pixel(1, 1 - firstRow), qRgb(255, 255, 255));
  }
}

// -- resizing

// The cubic filter written out for B = C = 1/3 in its own form.
double kernel(double x) {
  x = std::fabs(x);
  if (x < 1) return (7 * x * x * x - 12 * x * x + 16.0 / 3) / 6;
  if (x < 2) return (-7.0 / 3 * x * x * x + 12 * x * x - 20 * x + 32.0 / 3) / 6;
  return 0;
}

// One output sample along one axis, straight from the definition.
int resample(const std::vector<int>& line, int targetSize, int i) {
  const int sourceSize = static_cast<int>(line.size());
  const double scale = static_cast<double>(targetSize) / sourceSize;
  const double shrink = scale < 1 ? scale : 1;
  const double centre = (i + 0.5) / scale;
  std::vector<double> weights;
  double total = 0;
  for (int j = 0; j < sourceSize; ++j) {
    weights.push_back(kernel((j + 0.5 - centre) * shrink));
    total += weights.back();
  }
  double sum = 0;
  for (int j = 0; j < sourceSize; ++j) {
    sum += weights[static_cast<std::size_t>(j)] / total * line[static_cast<std::size_t>(j)];
  }
  return static_cast<int>(std::clamp(std::floor(sum + 0.5), 0.0, 255.0));
}

// The whole picture, two passes with 8-bit results in between, in the required order.
QImage referenceCubic(const QImage& source, int width, int height) {
  const bool verticalFirst =
      static_cast<long>(source.width()) * height < static_cast<long>(source.height()) * width;
  auto pass = [](const QImage& in, int size, bool vertical) {
    QImage out(vertical ? in.width() : size, vertical ? size : in.height(), QImage::Format_ARGB32);
    const int lines = vertical ? in.width() : in.height();
    const int length = vertical ? in.height() : in.width();
    for (int l = 0; l < lines; ++l) {
      for (int c = 0; c < 4; ++c) {
        std::vector<int> line;
        for (int k = 0; k < length; ++k) {
          const QRgb p = vertical ? in.pixel(l, k) : in.pixel(k, l);
          line.push_back(static_cast<int>((p >> (8 * c)) & 0xFF));
        }
        for (int i = 0; i < size; ++i) {
          const int x = vertical ? l : i;
          const int y = vertical ? i : l;
          const QRgb old = c == 0 ? 0 : out.pixel(x, y);
          out.setPixel(x, y, old | static_cast<QRgb>(resample(line, size, i)) << (8 * c));
        }
      }
    }
    return out;
  };
  if (verticalFirst) return pass(pass(source, height, true), width, false);
  return pass(pass(source, width, false), height, true);
}

struct CubicCase {
  int sourceWidth, sourceHeight, width, height;
};

std::string sizesOf(const CubicCase& c) {
  return std::to_string(c.sourceWidth) + "x" + std::to_string(c.sourceHeight) + "_to_" +
         std::to_string(c.width) + "x" + std::to_string(c.height);
}
// Names the case by its sizes instead of its raw bytes.
void PrintTo(const CubicCase& c, std::ostream* out) { *out << sizesOf(c); }

class CubicResize : public Images, public ::testing::WithParamInterface<CubicCase> {};

TEST_P(CubicResize, MatchesTheFilterComputedDirectly) {
  const CubicCase c = GetParam();
  const QImage source = patternImage(c.sourceWidth, c.sourceHeight, 4);
  const Bytes png = pngOf(source);
  ASSERT_NE(catchImage(9, png.data(), png.size()), 0);
  const ImageHandle before = imageHandle(9);
  const ImageHandle after = resizeImage(9, c.width, c.height, 0);
  ASSERT_NE(after, 0);
  EXPECT_NE(after, before);
  EXPECT_EQ(imageDepth(9), 32);
  const QImage resized = pixels(9);
  const QImage reference = referenceCubic(source, c.width, c.height);
  ASSERT_EQ(resized.size(), reference.size());
  // Sums that land on an exact half may round either way by floating-point noise, and such a
  // difference in the first pass can carry into the second; anything beyond is a fault.
  int inexact = 0;
  for (int y = 0; y < c.height; ++y) {
    for (int x = 0; x < c.width; ++x) {
      for (int shift = 0; shift < 32; shift += 8) {
        const int got = static_cast<int>((resized.pixel(x, y) >> shift) & 0xFF);
        const int want = static_cast<int>((reference.pixel(x, y) >> shift) & 0xFF);
        ASSERT_LE(std::abs(got - want), 1) << x << "," << y << " channel " << shift / 8;
        inexact += got != want;
      }
    }
  }
  EXPECT_LE(inexact, c.width * c.height * 4 / 100 + 1);
}

INSTANTIATE_TEST_SUITE_P(Sizes, CubicResize,
                         ::testing::Values(CubicCase{48, 48, 30, 30}, CubicCase{56, 50, 20, 20},
                                           CubicCase{10, 40, 8, 20}, CubicCase{20, 19, 41, 7},
                                           CubicCase{3, 2, 9, 5}),
                         [](const auto& info) { return sizesOf(info.param); });

TEST_F(Images, ResizeKeepsWhatIsIgnoredAndRefusesImpossibleSizes) {
  const Bytes png = pngOf(patternImage(12, 10, 5));
  const ImageHandle handle = catchImage(4, png.data(), png.size());
  EXPECT_EQ(resizeImage(4, IgnoreValue, IgnoreValue, 0), handle);
  EXPECT_EQ(resizeImage(4, 12, 10, 1), handle);
  for (auto [w, h] : {std::pair{0, 5}, {-3, 5}, {5, -1}, {100000, 100000}}) {
    EXPECT_EQ(resizeImage(4, w, h, 0), 0);
    EXPECT_EQ(imageHandle(4), handle);
    EXPECT_EQ(imageWidth(4), 12);
  }
  ASSERT_NE(resizeImage(4, 6, IgnoreValue, 1), 0);
  EXPECT_EQ(imageWidth(4), 6);
  EXPECT_EQ(imageHeight(4), 10);
}

TEST_F(Images, RawResizeRepeatsPixelsAndSmoothResizeOfOpaqueImagesStays24Bit) {
  const QImage source = patternImage(3, 2, 6, true);
  test::PngLayout layout{3, 2, PNG_COLOR_TYPE_RGB, 8, false, {}, {}, {}, false, {}};
  for (int y = 0; y < 2; ++y) {
    Bytes row;
    for (int x = 0; x < 3; ++x) {
      const QRgb p = source.pixel(x, y);
      row.insert(row.end(),
                 {static_cast<std::uint8_t>(qRed(p)), static_cast<std::uint8_t>(qGreen(p)),
                  static_cast<std::uint8_t>(qBlue(p))});
    }
    layout.rows.push_back(row);
  }
  const Bytes png = test::writePng(layout);
  ASSERT_NE(catchImage(4, png.data(), png.size()), 0);
  ASSERT_NE(resizeImage(4, 6, 4, 1), 0);
  const QImage doubled = pixels(4);
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 6; ++x) EXPECT_EQ(doubled.pixel(x, y), source.pixel(x / 2, y / 2));
  }
  ASSERT_NE(resizeImage(4, 2, 2, 0), 0);
  EXPECT_EQ(imageDepth(4), 24);
  EXPECT_EQ(qAlpha(pixels(4).pixel(1, 1)), 255);
}

TEST_F(Images, CreatedImagesAreBlackAndSized) {
  ASSERT_NE(createImage(6, 7, 3, 32), 0);
  EXPECT_EQ(imageDepth(6), 32);
  EXPECT_EQ(pixels(6).pixel(6, 2), qRgba(0, 0, 0, 255));
  EXPECT_EQ(createImage(6, 0, 3), 0);
  EXPECT_EQ(imageHandle(6), 0);  // the failed create freed what the number held
  EXPECT_EQ(createImage(6, 4, 4, 16), 0);
}

}  // namespace
}  // namespace lunadio

namespace lunadio::testing {
namespace {

// A finer drawing is taken only at a whole multiple of the size, and only where the screen is
// that fine; a resize drops it, since it was drawn for the old size.
TEST(ImageDetail, WholeMultiplesOnlyPickedByTheScreenAndDroppedByAResize) {
  usePngDecoder();
  const Bytes small = pngOf(patternImage(30, 30, 1));
  ASSERT_NE(catchImage(5, small.data(), small.size()), 0);
  const struct {
    int width, height;
    bool taken;
  } cases[] = {{60, 60, true}, {90, 90, true}, {30, 30, false}, {60, 45, false}, {45, 45, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
    const Bytes fine = pngOf(patternImage(c.width, c.height, 2));
    EXPECT_EQ(setImageDetail(5, fine.data(), fine.size()), c.taken);
  }
  EXPECT_FALSE(setImageDetail(5, "not a picture", 13));
  EXPECT_FALSE(setImageDetail(77, small.data(), small.size()));

  const Bytes fine = pngOf(patternImage(60, 60, 2, true));
  ASSERT_TRUE(setImageDetail(5, fine.data(), fine.size()));
  const QPixmap onTwo = ui::imagePixmapForHandle(imageHandle(5), 2.0);
  EXPECT_EQ(onTwo.size(), QSize(60, 60));
  EXPECT_EQ(onTwo.devicePixelRatio(), 2.0);
  EXPECT_EQ(onTwo.toImage().convertToFormat(QImage::Format_ARGB32).pixel(7, 3),
            patternImage(60, 60, 2, true).pixel(7, 3));
  EXPECT_EQ(ui::imagePixmapForHandle(imageHandle(5), 1.0).size(), QSize(30, 30));
  EXPECT_EQ(ui::imagePixmapForHandle(imageHandle(5), 1.5).size(), QSize(30, 30));
  resizeImage(5, 20, 20);
  EXPECT_EQ(ui::imagePixmapForHandle(imageHandle(5), 2.0).size(), QSize(20, 20));
  freeImage(ObjectAll);
}

}  // namespace
}  // namespace lunadio::testing
