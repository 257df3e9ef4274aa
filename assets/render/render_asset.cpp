// Build-time tool: turns one drawing (SVG) into the file the program embeds or installs.
//
//   lunadio_render_asset png <drawing.svg> <width> <height> <out.png> [<shown width> <shown
//   height>] lunadio_render_asset palette-png <drawing.svg> <width> <height> <out.png> [<shown w>
//   <shown h>] lunadio_render_asset ico <drawing.svg> <size> <out.ico>
//
// The drawing's view box is stretched over the whole picture, so a drawing made on the grid of the
// size it is shown at lines up with that grid again after the player's resize. With a shown size,
// the stored pixels are tuned so that the player's smooth resize gives the crisp drawing back.
#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include "assets/render/presharpen.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr int kMaxSide = 1024;

std::optional<int> parseSide(const char* text) {
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || value <= 0 || value > kMaxSide) return std::nullopt;
  return static_cast<int>(value);
}

// Straight (not premultiplied) ARGB, the form the PNG and icon writers below expect.
std::optional<QImage> renderDrawing(const QString& path, int width, int height) {
  QSvgRenderer renderer(path);
  if (!renderer.isValid()) return std::nullopt;
  QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  {
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter, QRectF(0, 0, width, height));
  }
  return image.convertToFormat(QImage::Format_ARGB32);
}

bool writeFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
  return file.write(bytes) == bytes.size() && file.flush();
}

bool savePng(const QImage& image, const QString& path) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  if (!image.save(&buffer, "PNG")) return false;
  return writeFile(path, bytes);
}

// Fewer than 256 distinct colours are needed for a palette picture; rounding every channel to
// ever coarser steps gets there while keeping the drawing's few flat colours exact enough.
QImage toPalette(const QImage& image) {
  for (int step = 1; step <= 64; step *= 2) {
    auto round = [step](int channel) {
      return step == 1 ? channel : std::min(255, (channel + step / 2) / step * step);
    };
    std::map<QRgb, int> indexOf;
    QImage indexed(image.size(), QImage::Format_Indexed8);
    bool fits = true;
    for (int y = 0; y < image.height() && fits; ++y) {
      const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
      for (int x = 0; x < image.width(); ++x) {
        const QRgb pixel = line[x];
        const int alpha = round(qAlpha(pixel));
        // Every fully transparent pixel is one colour, so it costs one palette entry.
        const QRgb key = alpha == 0 ? 0u
                                    : qRgba(round(qRed(pixel)), round(qGreen(pixel)),
                                            round(qBlue(pixel)), alpha);
        const auto [at, added] = indexOf.try_emplace(key, static_cast<int>(indexOf.size()));
        if (added && at->second > 255) {
          fits = false;
          break;
        }
        // Written directly: setPixel() drops indices the colour table does not hold yet.
        indexed.scanLine(y)[x] = static_cast<uchar>(at->second);
      }
    }
    if (!fits) continue;
    QList<QRgb> table(static_cast<qsizetype>(indexOf.size()));
    for (const auto& [colour, index] : indexOf) table[index] = colour;
    // The PNG writer stores small palettes in 1, 2 or 4 bits; padding the table keeps 8 bits per
    // pixel, the form the player's picture is made from.
    while (table.size() < 256) table.push_back(qRgba(0, 0, 0, 0));
    indexed.setColorTable(table);
    return indexed;
  }
  return {};
}

void putU16(QByteArray& out, std::uint32_t value) {
  out.append(static_cast<char>(value & 0xFF));
  out.append(static_cast<char>((value >> 8) & 0xFF));
}
void putU32(QByteArray& out, std::uint32_t value) {
  putU16(out, value & 0xFFFF);
  putU16(out, value >> 16);
}

// An icon container with one 32-bit picture in the classic form: a bottom-up BGRA bitmap of
// doubled height followed by its 1-bit AND mask (set where the picture is fully transparent, for
// readers that ignore alpha).
QByteArray iconFile(const QImage& image) {
  const int side = image.width();
  const std::uint32_t colourBytes = static_cast<std::uint32_t>(side * side * 4);
  const std::uint32_t maskRowBytes = static_cast<std::uint32_t>((side + 31) / 32 * 4);
  const std::uint32_t maskBytes = maskRowBytes * static_cast<std::uint32_t>(side);
  const std::uint32_t entryBytes = 40 + colourBytes + maskBytes;

  QByteArray out;
  putU16(out, 0);  // reserved
  putU16(out, 1);  // icon, not cursor
  putU16(out, 1);  // one picture
  out.append(static_cast<char>(side >= 256 ? 0 : side));
  out.append(static_cast<char>(side >= 256 ? 0 : side));
  out.append('\0');  // no palette
  out.append('\0');  // reserved
  putU16(out, 1);    // planes
  putU16(out, 32);   // bits per pixel
  putU32(out, entryBytes);
  putU32(out, 6 + 16);

  putU32(out, 40);
  putU32(out, static_cast<std::uint32_t>(side));
  putU32(out, static_cast<std::uint32_t>(side * 2));
  putU16(out, 1);
  putU16(out, 32);
  putU32(out, 0);  // uncompressed
  putU32(out, colourBytes + maskBytes);
  putU32(out, 0);
  putU32(out, 0);
  putU32(out, 0);
  putU32(out, 0);

  for (int y = side - 1; y >= 0; --y) {
    const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    for (int x = 0; x < side; ++x) {
      out.append(static_cast<char>(qBlue(line[x])));
      out.append(static_cast<char>(qGreen(line[x])));
      out.append(static_cast<char>(qRed(line[x])));
      out.append(static_cast<char>(qAlpha(line[x])));
    }
  }
  for (int y = side - 1; y >= 0; --y) {
    const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    QByteArray row(static_cast<qsizetype>(maskRowBytes), '\0');
    for (int x = 0; x < side; ++x) {
      if (qAlpha(line[x]) == 0) row[x / 8] = static_cast<char>(row[x / 8] | (0x80 >> (x % 8)));
    }
    out.append(row);
  }
  return out;
}

int usage() {
  std::fputs(
      "usage: lunadio_render_asset png|palette-png <drawing.svg> <width> <height> <out.png>"
      " [<shown width> <shown height>]\n"
      "       lunadio_render_asset ico <drawing.svg> <size> <out.ico>\n",
      stderr);
  return 2;
}

int fail(const char* what, const char* path) {
  std::fprintf(stderr, "lunadio_render_asset: %s: %s\n", what, path);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage();
  const std::string mode = argv[1];
  if (mode == "ico") {
    if (argc != 5) return usage();
    const std::optional<int> side = parseSide(argv[3]);
    if (!side || *side > 256) return usage();
    const std::optional<QImage> image =
        renderDrawing(QString::fromLocal8Bit(argv[2]), *side, *side);
    if (!image) return fail("cannot read the drawing", argv[2]);
    if (!writeFile(QString::fromLocal8Bit(argv[4]), iconFile(*image)))
      return fail("cannot write", argv[4]);
    return 0;
  }
  if (mode != "png" && mode != "palette-png") return usage();
  if (argc != 6 && argc != 8) return usage();
  const QString drawing = QString::fromLocal8Bit(argv[2]);
  const std::optional<int> width = parseSide(argv[3]);
  const std::optional<int> height = parseSide(argv[4]);
  if (!width || !height) return usage();
  std::optional<QImage> image = renderDrawing(drawing, *width, *height);
  if (!image) return fail("cannot read the drawing", argv[2]);
  if (argc == 8) {
    const std::optional<int> shownWidth = parseSide(argv[6]);
    const std::optional<int> shownHeight = parseSide(argv[7]);
    if (!shownWidth || !shownHeight || *shownWidth > *width || *shownHeight > *height)
      return usage();
    const std::optional<QImage> shown = renderDrawing(drawing, *shownWidth, *shownHeight);
    if (!shown) return fail("cannot read the drawing", argv[2]);
    image = lunadio::assets::presharpenForResize(*shown, *image);
  }
  QImage result = *image;
  if (mode == "palette-png") {
    result = toPalette(*image);
    if (result.isNull()) return fail("too many colours for a palette", argv[2]);
  }
  if (!savePng(result, QString::fromLocal8Bit(argv[5]))) return fail("cannot write", argv[5]);
  return 0;
}
