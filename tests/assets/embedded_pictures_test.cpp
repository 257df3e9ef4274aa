// The embedded pictures as the player makes them: read by the ui library's decoders, resized in
// mode 0 to the size each gadget shows, and checked for the form the player relies on and for
// pixels that read on the panel's theme colour as well as on light and dark trays.

#include <gtest/gtest.h>

#include <QFile>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "assets/embedded_assets.h"
#include "ui/images.h"
#include "ui/ui_internal.h"

namespace lunadio {
namespace {

struct Picture {
  const char* name;
  const char* file;
  const char* drawing;
  std::span<const std::uint8_t> (*data)();
  ObjectNumber number;
  int storedWidth;
  int storedHeight;
  std::uint32_t format;
  int sourceDepthBits;
  int shownWidth;  // after the player's resize; icons are shown as stored
  int shownHeight;
};

const Picture kPictures[] = {
    {"tray icon", "tray", "lunadio.svg", trayIconData, 1, 48, 48, ImageFormatIcon, 32, 48, 48},
    {"open file", "open_file", "open_file.svg", openFileImageData, 4, 28, 25, ImageFormatPng, 8, 20,
     15},
    {"close", "close", "close.svg", closeImageData, 6, 20, 19, ImageFormatPng, 32, 20, 19},
    {"hide", "hide", "hide.svg", hideImageData, 8, 56, 50, ImageFormatPng, 32, 20, 20},
    {"library", "library", "library.svg", libraryImageData, 9, 48, 48, ImageFormatPng, 32, 20, 20},
    {"pause", "pause", "pause.svg", pauseImageData, 2, 48, 48, ImageFormatPng, 32, 30, 30},
    {"play", "play", "play.svg", playImageData, 3, 48, 48, ImageFormatPng, 32, 30, 30},
};

int luma(QRgb pixel) {
  return (299 * qRed(pixel) + 587 * qGreen(pixel) + 114 * qBlue(pixel)) / 1000;
}

class EmbeddedPictures : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { usePngDecoder(); }
  void TearDown() override { freeImage(ObjectAll); }
};

TEST_F(EmbeddedPictures, DecodeAndResizeAsThePlayerDoes) {
  for (const Picture& picture : kPictures) {
    SCOPED_TRACE(picture.name);
    const std::span<const std::uint8_t> bytes = picture.data();
    ASSERT_FALSE(bytes.empty());
    ASSERT_NE(catchImage(picture.number, bytes.data(), bytes.size()), 0);
    EXPECT_EQ(imageFormat(picture.number), picture.format);
    EXPECT_EQ(imageWidth(picture.number), picture.storedWidth);
    EXPECT_EQ(imageHeight(picture.number), picture.storedHeight);
    EXPECT_EQ(imageSourceDepth(picture.number), picture.sourceDepthBits);
    // Every picture has transparent parts, so every one is held with alpha.
    EXPECT_EQ(imageDepth(picture.number), 32);

    ASSERT_NE(resizeImage(picture.number, picture.shownWidth, picture.shownHeight, 0), 0);
    EXPECT_EQ(imageWidth(picture.number), picture.shownWidth);
    EXPECT_EQ(imageHeight(picture.number), picture.shownHeight);
    EXPECT_EQ(imageDepth(picture.number), 32);
    // scripts/assets-preview.sh lays these out on the panel's colour and on light and dark trays.
    if (const char* folder = std::getenv("LUNADIO_ASSETS_PREVIEW_DIR")) {
      const QImage shown = ui::imagePixelsForHandle(imageHandle(picture.number));
      EXPECT_TRUE(shown.save(QString::fromLocal8Bit(folder) + "/" + picture.file + ".png"));
    }
  }
}

// What a person sees at the shown size: clear corners (the theme colour shows through), an opaque
// glyph, and both light and dark opaque pixels, so the picture stands out on any background.
TEST_F(EmbeddedPictures, ReadOnLightAndDarkBackgrounds) {
  for (const Picture& picture : kPictures) {
    SCOPED_TRACE(picture.name);
    const std::span<const std::uint8_t> bytes = picture.data();
    ASSERT_NE(catchImage(picture.number, bytes.data(), bytes.size()), 0);
    ASSERT_NE(resizeImage(picture.number, picture.shownWidth, picture.shownHeight, 0), 0);
    const QImage pixels = ui::imagePixelsForHandle(imageHandle(picture.number))
                              .convertToFormat(QImage::Format_ARGB32);
    ASSERT_FALSE(pixels.isNull());
    const int right = pixels.width() - 1;
    const int bottom = pixels.height() - 1;
    for (const auto& [x, y] : {std::pair{0, 0}, {right, 0}, {0, bottom}, {right, bottom}}) {
      EXPECT_LT(qAlpha(pixels.pixel(x, y)), 32) << "corner " << x << "," << y;
    }
    int light = 0;
    int dark = 0;
    for (int y = 0; y < pixels.height(); ++y) {
      for (int x = 0; x < pixels.width(); ++x) {
        const QRgb pixel = pixels.pixel(x, y);
        if (qAlpha(pixel) < 160) continue;
        if (luma(pixel) >= 190) ++light;
        if (luma(pixel) <= 70) ++dark;
      }
    }
    const int area = pixels.width() * pixels.height();
    EXPECT_GE(light * 20, area) << "too little light ink";
    EXPECT_GE(dark * 40, area) << "too little dark edge";
  }
}

// The stored pixels are tuned so that the player's smooth resize gives back the drawing as it
// would be drawn at the shown size; a change to that resize, or a drawing that is no longer on the
// shown grid, makes the panel's pictures soft or fringed.
TEST_F(EmbeddedPictures, ShownAsDrawn) {
  for (const Picture& picture : kPictures) {
    SCOPED_TRACE(picture.name);
    const std::span<const std::uint8_t> bytes = picture.data();
    ASSERT_NE(catchImage(picture.number, bytes.data(), bytes.size()), 0);
    ASSERT_NE(resizeImage(picture.number, picture.shownWidth, picture.shownHeight, 0), 0);
    const QImage shown = ui::imagePixelsForHandle(imageHandle(picture.number))
                             .convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QSvgRenderer renderer(QString(LUNADIO_DRAWINGS_DIR "/") + picture.drawing);
    ASSERT_TRUE(renderer.isValid());
    QImage drawn(picture.shownWidth, picture.shownHeight, QImage::Format_ARGB32_Premultiplied);
    drawn.fill(Qt::transparent);
    {
      QPainter painter(&drawn);
      painter.setRenderHint(QPainter::Antialiasing);
      renderer.render(&painter, QRectF(0, 0, drawn.width(), drawn.height()));
    }
    double totalError = 0;
    int worstError = 0;  // reported only: one edge pixel may be far off
    for (int y = 0; y < drawn.height(); ++y) {
      for (int x = 0; x < drawn.width(); ++x) {
        const QRgb a = shown.pixel(x, y);
        const QRgb b = drawn.pixel(x, y);
        for (const int shift : {0, 8, 16, 24}) {
          const int error = std::abs(static_cast<int>((a >> shift) & 0xFF) -
                                     static_cast<int>((b >> shift) & 0xFF));
          totalError += error;
          worstError = std::max(worstError, error);
        }
      }
    }
    const double meanError = totalError / (4.0 * drawn.width() * drawn.height());
    // Shrunk without the tuning, the library and open-file pictures are off by 8 to 10 on
    // average; tuned, every picture stays under 5 (the palette's rounding included).
    EXPECT_LT(meanError, 5.0) << "worst channel error " << worstError;
  }
}

QByteArray fileBytes(const std::string& path) {
  QFile file(QString::fromStdString(path));
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.readAll();
}

// The icon container is written by hand; the desktop's 48-pixel icon comes from the same drawing
// through Qt's PNG writer, so the two must hold the same pixels (row order, channel order and the
// mask's transparency included).
TEST_F(EmbeddedPictures, TrayIconMatchesTheDesktopIcon) {
  const std::span<const std::uint8_t> icon = trayIconData();
  EXPECT_EQ(icon.size(), 6u + 16u + 40u + 48u * 48u * 4u + 48u * 8u);
  ASSERT_NE(catchImage(1, icon.data(), icon.size()), 0);
  const QByteArray png = fileBytes(std::string(LUNADIO_ICON_DIR) + "/48x48/apps/lunadio.png");
  ASSERT_FALSE(png.isEmpty());
  ASSERT_NE(catchImage(2, png.constData(), static_cast<std::size_t>(png.size())), 0);
  const QImage fromIcon =
      ui::imagePixelsForHandle(imageHandle(1)).convertToFormat(QImage::Format_ARGB32);
  const QImage fromPng =
      ui::imagePixelsForHandle(imageHandle(2)).convertToFormat(QImage::Format_ARGB32);
  ASSERT_EQ(fromIcon.size(), fromPng.size());
  int differing = 0;
  for (int y = 0; y < fromIcon.height(); ++y) {
    for (int x = 0; x < fromIcon.width(); ++x) {
      const QRgb a = fromIcon.pixel(x, y);
      const QRgb b = fromPng.pixel(x, y);
      if (qAlpha(a) != qAlpha(b) || (qAlpha(a) != 0 && (std::abs(qRed(a) - qRed(b)) > 1 ||
                                                        std::abs(qGreen(a) - qGreen(b)) > 1 ||
                                                        std::abs(qBlue(a) - qBlue(b)) > 1))) {
        ++differing;
      }
    }
  }
  EXPECT_EQ(differing, 0);
}

TEST_F(EmbeddedPictures, DesktopIconsAtEverySize) {
  for (const int side : {16, 22, 24, 32, 48, 64, 128, 256}) {
    SCOPED_TRACE(side);
    const std::string size = std::to_string(side);
    const QByteArray png =
        fileBytes(std::string(LUNADIO_ICON_DIR) + "/" + size + "x" + size + "/apps/lunadio.png");
    ASSERT_FALSE(png.isEmpty());
    ASSERT_NE(catchImage(3, png.constData(), static_cast<std::size_t>(png.size())), 0);
    EXPECT_EQ(imageWidth(3), side);
    EXPECT_EQ(imageHeight(3), side);
    EXPECT_EQ(imageDepth(3), 32);
  }
  const QByteArray svg = fileBytes(std::string(LUNADIO_ICON_DIR) + "/scalable/apps/lunadio.svg");
  EXPECT_TRUE(svg.contains("<svg"));
}

}  // namespace
}  // namespace lunadio
