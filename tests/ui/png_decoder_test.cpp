// The PNG decoder: every colour type and depth decodes to the same pixels as a plain 8-bit twin,
// and damaged files fail without leaving an image behind.

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>

#include "tests/ui/test_pictures.h"
#include "ui/images.h"
#include "ui/ui_internal.h"

namespace lunadio {
namespace {

using test::Bytes;
using test::PngLayout;

constexpr int kWidth = 13;
constexpr int kHeight = 11;
constexpr ObjectNumber kImage = 5;

// Twelve palette colours, four of them partly or fully transparent.
QRgb paletteColour(int index) {
  const int alpha[] = {255, 255, 0, 255, 128, 255, 255, 30, 255, 255, 255, 200};
  return qRgba((index * 40) & 0xFF, (index * 90 + 7) & 0xFF, (index * 17 + 100) & 0xFF,
               alpha[index]);
}
int paletteIndexAt(int x, int y) { return (x * 3 + y * 5) % 12; }
int greyAt(int x, int y, int bitDepth) { return (x + 2 * y) % (1 << bitDepth); }
int scaleGrey(int value, int bitDepth) { return value * 255 / ((1 << bitDepth) - 1); }

using PixelFn = std::function<QRgb(int x, int y)>;

QImage expectedImage(const PixelFn& pixel, int depthBits) {
  QImage image(kWidth, kHeight, depthBits == 32 ? QImage::Format_ARGB32 : QImage::Format_RGB32);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      image.setPixel(x, y, depthBits == 32 ? pixel(x, y) : (pixel(x, y) | 0xFF000000u));
    }
  }
  return image;
}

void putSample(Bytes& row, int value, int bitDepth) {
  if (bitDepth == 16) {
    // v * 257 strips back to v exactly.
    row.push_back(static_cast<std::uint8_t>(value));
    row.push_back(static_cast<std::uint8_t>(value));
  } else {
    row.push_back(static_cast<std::uint8_t>(value));
  }
}

// A true-colour or grey picture from a pixel function; channels picks which samples are written.
PngLayout directSpec(const PixelFn& pixel, int colourType, int bitDepth, bool interlaced) {
  PngLayout layout{kWidth, kHeight, colourType, bitDepth, interlaced, {}, {}, {}, false, {}};
  for (int y = 0; y < kHeight; ++y) {
    Bytes row;
    for (int x = 0; x < kWidth; ++x) {
      const QRgb p = pixel(x, y);
      switch (colourType) {
        case PNG_COLOR_TYPE_RGB_ALPHA:
          putSample(row, qRed(p), bitDepth), putSample(row, qGreen(p), bitDepth);
          putSample(row, qBlue(p), bitDepth), putSample(row, qAlpha(p), bitDepth);
          break;
        case PNG_COLOR_TYPE_RGB:
          putSample(row, qRed(p), bitDepth), putSample(row, qGreen(p), bitDepth);
          putSample(row, qBlue(p), bitDepth);
          break;
        case PNG_COLOR_TYPE_GRAY_ALPHA:
          putSample(row, qRed(p), bitDepth), putSample(row, qAlpha(p), bitDepth);
          break;
        default:
          putSample(row, qRed(p), bitDepth);
          break;
      }
    }
    layout.rows.push_back(row);
  }
  return layout;
}

// Samples of fewer than 8 bits, packed from the left of each byte.
PngLayout packedSpec(int colourType, int bitDepth, bool interlaced,
                     const std::function<int(int, int)>& value) {
  PngLayout layout{kWidth, kHeight, colourType, bitDepth, interlaced, {}, {}, {}, false, {}};
  for (int y = 0; y < kHeight; ++y) {
    Bytes row(static_cast<std::size_t>((kWidth * bitDepth + 7) / 8), 0);
    for (int x = 0; x < kWidth; ++x) {
      const int bit = x * bitDepth;
      row[static_cast<std::size_t>(bit / 8)] |=
          static_cast<std::uint8_t>(value(x, y) << (8 - bitDepth - bit % 8));
    }
    layout.rows.push_back(row);
  }
  return layout;
}

PngLayout paletteSpec(bool withTransparency, bool interlaced, int bitDepth = 8) {
  PngLayout layout = packedSpec(PNG_COLOR_TYPE_PALETTE, bitDepth, interlaced, paletteIndexAt);
  for (int i = 0; i < 12; ++i) {
    const QRgb c = paletteColour(i);
    layout.palette.push_back({static_cast<png_byte>(qRed(c)), static_cast<png_byte>(qGreen(c)),
                              static_cast<png_byte>(qBlue(c))});
    if (withTransparency) layout.paletteAlpha.push_back(static_cast<png_byte>(qAlpha(c)));
  }
  return layout;
}

QRgb rgbaAt(int x, int y) { return test::patternPixel(x, y, 3); }
QRgb paletteAt(int x, int y) { return paletteColour(paletteIndexAt(x, y)); }
QRgb greyPixel(int x, int y, int bitDepth) {
  const int v = scaleGrey(greyAt(x, y, bitDepth), bitDepth);
  return qRgb(v, v, v);
}

struct TwinCase {
  std::string name;
  std::function<PngLayout()> build;
  PixelFn expected;
  int depthBits;
};

// Without it GoogleTest prints the case as its raw bytes, function pointers included.
void PrintTo(const TwinCase& c, std::ostream* out) {
  *out << c.name << " (" << c.depthBits << "-bit)";
}

std::vector<TwinCase> twinCases() {
  std::vector<TwinCase> cases;
  for (bool interlaced : {false, true}) {
    const std::string suffix = interlaced ? "_interlaced" : "";
    cases.push_back({"rgba8" + suffix,
                     [=] { return directSpec(rgbaAt, PNG_COLOR_TYPE_RGB_ALPHA, 8, interlaced); },
                     rgbaAt, 32});
    cases.push_back({"rgba16" + suffix,
                     [=] { return directSpec(rgbaAt, PNG_COLOR_TYPE_RGB_ALPHA, 16, interlaced); },
                     rgbaAt, 32});
    cases.push_back({"rgb8" + suffix,
                     [=] { return directSpec(rgbaAt, PNG_COLOR_TYPE_RGB, 8, interlaced); }, rgbaAt,
                     24});
    cases.push_back({"rgb16" + suffix,
                     [=] { return directSpec(rgbaAt, PNG_COLOR_TYPE_RGB, 16, interlaced); }, rgbaAt,
                     24});
    cases.push_back(
        {"palette_trns" + suffix, [=] { return paletteSpec(true, interlaced); }, paletteAt, 32});
    cases.push_back(
        {"palette" + suffix, [=] { return paletteSpec(false, interlaced); }, paletteAt, 24});
    cases.push_back({"palette4_trns" + suffix, [=] { return paletteSpec(true, interlaced, 4); },
                     paletteAt, 32});
    for (int bits : {1, 2, 4, 8}) {
      cases.push_back({"grey" + std::to_string(bits) + suffix,
                       [=] {
                         return packedSpec(PNG_COLOR_TYPE_GRAY, bits, interlaced,
                                           [=](int x, int y) { return greyAt(x, y, bits); });
                       },
                       [=](int x, int y) { return greyPixel(x, y, bits); }, 24});
    }
    const PixelFn greyAlpha = [](int x, int y) {
      const int v = qRed(rgbaAt(x, y));
      return qRgba(v, v, v, qAlpha(rgbaAt(x, y)));
    };
    cases.push_back(
        {"grey_alpha16" + suffix,
         [=] { return directSpec(greyAlpha, PNG_COLOR_TYPE_GRAY_ALPHA, 16, interlaced); },
         greyAlpha, 32});
  }
  // A colour key on an RGB picture: exactly the matching pixels turn transparent.
  const QRgb key = rgbaAt(4, 2);
  const PixelFn keyed = [=](int x, int y) {
    const QRgb p = rgbaAt(x, y) | 0xFF000000u;
    return (p & 0xFFFFFF) == (key & 0xFFFFFF) ? (p & 0xFFFFFFu) : p;
  };
  cases.push_back({"rgb_colour_key",
                   [=] {
                     PngLayout layout = directSpec(rgbaAt, PNG_COLOR_TYPE_RGB, 8, false);
                     layout.hasColourKey = true;
                     layout.colourKey.red = static_cast<png_uint_16>(qRed(key));
                     layout.colourKey.green = static_cast<png_uint_16>(qGreen(key));
                     layout.colourKey.blue = static_cast<png_uint_16>(qBlue(key));
                     return layout;
                   },
                   keyed, 32});
  // A grey colour key on a 2-bit picture: level 1 becomes transparent.
  cases.push_back({"grey2_colour_key",
                   [] {
                     PngLayout layout = packedSpec(PNG_COLOR_TYPE_GRAY, 2, false,
                                                   [](int x, int y) { return greyAt(x, y, 2); });
                     layout.hasColourKey = true;
                     layout.colourKey.gray = 1;
                     return layout;
                   },
                   [](int x, int y) {
                     const QRgb p = greyPixel(x, y, 2);
                     return greyAt(x, y, 2) == 1 ? (p & 0xFFFFFFu) : p;
                   },
                   32});
  return cases;
}

class PngTwins : public ::testing::TestWithParam<TwinCase> {
 protected:
  static void SetUpTestSuite() { usePngDecoder(); }
  void TearDown() override { freeImage(ObjectAll); }
};

TEST_P(PngTwins, DecodesToThePlainTwinsPixels) {
  const TwinCase& c = GetParam();
  const Bytes png = test::writePng(c.build());
  ASSERT_NE(catchImage(kImage, png.data(), png.size()), 0);
  EXPECT_EQ(imageDepth(kImage), c.depthBits);
  EXPECT_EQ(imageFormat(kImage), ImageFormatPng);
  const QImage decoded = ui::imagePixelsForHandle(imageHandle(kImage));
  const QImage expected = expectedImage(c.expected, c.depthBits);
  ASSERT_EQ(decoded.size(), expected.size());
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      ASSERT_EQ(decoded.pixel(x, y), expected.pixel(x, y)) << "at " << x << "," << y;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(AllKinds, PngTwins, ::testing::ValuesIn(twinCases()),
                         [](const auto& info) { return info.param.name; });

class PngBadInput : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { usePngDecoder(); }
  void TearDown() override { freeImage(ObjectAll); }

  static Bytes goodPng() { return test::writePng(paletteSpec(true, true)); }

  // Rewrites a chunk's CRC after its data were changed.
  static void fixCrc(Bytes& png, std::size_t chunkStart) {
    const std::size_t length = static_cast<std::size_t>(png[chunkStart]) << 24 |
                               static_cast<std::size_t>(png[chunkStart + 1]) << 16 |
                               static_cast<std::size_t>(png[chunkStart + 2]) << 8 |
                               png[chunkStart + 3];
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = chunkStart + 4; i < chunkStart + 8 + length; ++i) {
      crc ^= png[i];
      for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    crc ^= 0xFFFFFFFFu;
    for (int i = 0; i < 4; ++i) {
      png[chunkStart + 8 + length + static_cast<std::size_t>(i)] =
          static_cast<std::uint8_t>(crc >> (24 - 8 * i));
    }
  }
};

TEST_F(PngBadInput, EveryTruncationFailsAndLeavesTheNumberFree) {
  const Bytes png = goodPng();
  // Every pixel is in by the end of the image data; only the closing 12-byte chunk may go.
  constexpr std::size_t kEndChunkBytes = 12;
  for (std::size_t size = 0; size < png.size() - kEndChunkBytes; ++size) {
    ASSERT_EQ(catchImage(kImage, png.data(), size), 0) << "cut at " << size;
    ASSERT_EQ(imageHandle(kImage), 0);
  }
  EXPECT_NE(catchImage(kImage, png.data(), png.size()), 0);
}

TEST_F(PngBadInput, CorruptOrOversizedPicturesFail) {
  const Bytes good = goodPng();
  constexpr std::size_t kIhdr = 8;  // the first chunk, right after the signature

  Bytes badCrc = good;
  badCrc[badCrc.size() - 20] ^= 0x55;  // inside the image data or its CRC
  EXPECT_EQ(catchImage(kImage, badCrc.data(), badCrc.size()), 0);

  // Dimensions whose pixel buffer would overflow or exhaust memory.
  for (std::uint32_t side : {0x7FFFFFFFu, 100000u, 16384u}) {
    Bytes huge = good;
    for (int i = 0; i < 4; ++i) {
      huge[kIhdr + 8 + static_cast<std::size_t>(i)] =
          static_cast<std::uint8_t>(side >> (24 - 8 * i));
      huge[kIhdr + 12 + static_cast<std::size_t>(i)] =
          static_cast<std::uint8_t>(side >> (24 - 8 * i));
    }
    fixCrc(huge, kIhdr);
    EXPECT_EQ(catchImage(kImage, huge.data(), huge.size()), 0) << side;
  }

  // A valid header over image data that are not a zlib stream.
  Bytes garbled = good;
  for (std::size_t i = 40; i + 20 < garbled.size(); ++i)
    garbled[i] = static_cast<std::uint8_t>(i * 7);
  EXPECT_EQ(catchImage(kImage, garbled.data(), garbled.size()), 0);

  const char notAPicture[] = "just some text that is not a picture";
  EXPECT_EQ(catchImage(kImage, notAPicture, sizeof notAPicture), 0);
  EXPECT_EQ(imageHandle(kImage), 0);
}

}  // namespace
}  // namespace lunadio
