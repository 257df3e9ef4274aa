#pragma once
// Pictures the image tests build themselves: PNG files written with libpng's writer, and .ico and
// .bmp files laid out byte by byte.

#include <png.h>

#include <QImage>

#include <cstdint>
#include <cstring>
#include <vector>

namespace lunadio::test {

using Bytes = std::vector<std::uint8_t>;

struct PngLayout {
  int width = 0;
  int height = 0;
  int colourType = PNG_COLOR_TYPE_RGB_ALPHA;
  int bitDepth = 8;
  bool interlaced = false;
  // Packed rows as libpng expects them for colourType and bitDepth (16-bit samples big-endian).
  std::vector<Bytes> rows;
  std::vector<png_color> palette;
  Bytes paletteAlpha;         // tRNS for palette pictures
  bool hasColourKey = false;  // tRNS for grey and RGB pictures
  png_color_16 colourKey{};
};

inline void appendBytes(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}
inline void flushNothing(png_structp) {}

inline Bytes writePng(const PngLayout& layout) {
  Bytes out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_set_write_fn(png, &out, appendBytes, flushNothing);
  png_set_IHDR(png, info, static_cast<png_uint_32>(layout.width),
               static_cast<png_uint_32>(layout.height), layout.bitDepth, layout.colourType,
               layout.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (!layout.palette.empty()) {
    png_set_PLTE(png, info, layout.palette.data(), static_cast<int>(layout.palette.size()));
  }
  if (!layout.paletteAlpha.empty()) {
    png_set_tRNS(png, info, layout.paletteAlpha.data(),
                 static_cast<int>(layout.paletteAlpha.size()), nullptr);
  } else if (layout.hasColourKey) {
    png_set_tRNS(png, info, nullptr, 0, &layout.colourKey);
  }
  std::vector<png_bytep> rows;
  for (const Bytes& row : layout.rows) rows.push_back(const_cast<png_bytep>(row.data()));
  png_set_rows(png, info, rows.data());
  png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

// A test pattern of `width` x `height` pixels whose colours depend on x, y and a seed.
inline QRgb patternPixel(int x, int y, int seed) {
  const auto v = static_cast<std::uint32_t>((x * 73 + y * 151 + seed * 31) * 2654435761u);
  return qRgba(static_cast<int>(v >> 24), static_cast<int>((v >> 16) & 0xFF),
               static_cast<int>((v >> 8) & 0xFF), static_cast<int>(v & 0xFF));
}

// Little-endian byte writers for hand-made files.
inline void putU16(Bytes& out, unsigned value) {
  out.push_back(static_cast<std::uint8_t>(value));
  out.push_back(static_cast<std::uint8_t>(value >> 8));
}
inline void putU32(Bytes& out, std::uint32_t value) {
  putU16(out, value & 0xFFFF);
  putU16(out, value >> 16);
}

// A 40-byte info header; `storedHeight` is doubled by the caller for icon entries.
inline void putInfoHeader(Bytes& out, int width, int storedHeight, int bitCount, int coloursUsed) {
  putU32(out, 40);
  putU32(out, static_cast<std::uint32_t>(width));
  putU32(out, static_cast<std::uint32_t>(storedHeight));
  putU16(out, 1);
  putU16(out, static_cast<unsigned>(bitCount));
  putU32(out, 0);
  putU32(out, 0);
  putU32(out, 0);
  putU32(out, 0);
  putU32(out, static_cast<std::uint32_t>(coloursUsed));
  putU32(out, 0);
}

struct IconEntryData {
  int width;
  int height;
  int bitCount;
  Bytes data;  // a bitmap entry (header, palette, rows, mask) or a PNG file
};

inline Bytes writeIcon(const std::vector<IconEntryData>& entries) {
  Bytes out;
  putU16(out, 0);
  putU16(out, 1);
  putU16(out, static_cast<unsigned>(entries.size()));
  std::uint32_t offset = static_cast<std::uint32_t>(6 + 16 * entries.size());
  for (const auto& entry : entries) {
    out.push_back(static_cast<std::uint8_t>(entry.width & 0xFF));
    out.push_back(static_cast<std::uint8_t>(entry.height & 0xFF));
    out.push_back(0);
    out.push_back(0);
    putU16(out, 1);
    putU16(out, static_cast<unsigned>(entry.bitCount));
    putU32(out, static_cast<std::uint32_t>(entry.data.size()));
    putU32(out, offset);
    offset += static_cast<std::uint32_t>(entry.data.size());
  }
  for (const auto& entry : entries) out.insert(out.end(), entry.data.begin(), entry.data.end());
  return out;
}

// A 32-bit icon entry of `image` (ARGB), rows bottom-up, with an AND mask that marks the pixels
// of `maskTransparent` (or none).
inline Bytes iconEntry32(const QImage& image, bool withMask = true,
                         const std::vector<bool>& maskTransparent = {}) {
  Bytes out;
  putInfoHeader(out, image.width(), image.height() * 2, 32, 0);
  for (int y = image.height() - 1; y >= 0; --y) {
    for (int x = 0; x < image.width(); ++x) {
      const QRgb p = image.pixel(x, y);
      out.push_back(static_cast<std::uint8_t>(qBlue(p)));
      out.push_back(static_cast<std::uint8_t>(qGreen(p)));
      out.push_back(static_cast<std::uint8_t>(qRed(p)));
      out.push_back(static_cast<std::uint8_t>(qAlpha(p)));
    }
  }
  if (!withMask) return out;
  const int stride = (image.width() + 31) / 32 * 4;
  for (int y = image.height() - 1; y >= 0; --y) {
    Bytes row(static_cast<std::size_t>(stride), 0);
    for (int x = 0; x < image.width(); ++x) {
      const std::size_t index = static_cast<std::size_t>(y * image.width() + x);
      if (index < maskTransparent.size() && maskTransparent[index]) {
        row[static_cast<std::size_t>(x / 8)] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
      }
    }
    out.insert(out.end(), row.begin(), row.end());
  }
  return out;
}

}  // namespace lunadio::test
