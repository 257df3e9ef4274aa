#include "ui/images_dib.h"

#include <algorithm>
#include <array>

#include "ui/images.h"

namespace lunadio::ui {
namespace {

constexpr std::size_t kInfoHeaderBytes = 40;

std::size_t rowBytes(int width, int bitCount) {
  return ((static_cast<std::size_t>(width) * static_cast<std::size_t>(bitCount) + 31) / 32) * 4;
}

QRgb paletteColour(ByteSpan palette, std::size_t entries, unsigned index) {
  if (index >= entries) return qRgb(0, 0, 0);
  const std::size_t at = index * 4;
  return qRgb(palette[at + 2], palette[at + 1], palette[at]);
}

QRgb expand555(std::uint16_t value) {
  const int r = (value >> 10) & 31;
  const int g = (value >> 5) & 31;
  const int b = value & 31;
  return qRgb(r << 3 | r >> 2, g << 3 | g >> 2, b << 3 | b >> 2);
}

// One stored row to 0xAARRGGBB words; bytes past the row's pixels are padding.
void convertRow(const std::uint8_t* row, int width, int bitCount, ByteSpan palette,
                std::size_t paletteEntries, QRgb* out) {
  switch (bitCount) {
    case 1:
    case 4:
    case 8: {
      const unsigned mask = (1u << bitCount) - 1;
      const int perByte = 8 / bitCount;
      for (int x = 0; x < width; ++x) {
        const std::uint8_t byte = row[x / perByte];
        const int shift = 8 - bitCount * (x % perByte + 1);
        out[x] = paletteColour(palette, paletteEntries, (byte >> shift) & mask);
      }
      break;
    }
    case 16:
      for (int x = 0; x < width; ++x) {
        out[x] = expand555(static_cast<std::uint16_t>(row[2 * x] | row[2 * x + 1] << 8));
      }
      break;
    case 24:
      for (int x = 0; x < width; ++x) {
        out[x] = qRgb(row[3 * x + 2], row[3 * x + 1], row[3 * x]);
      }
      break;
    case 32:
      for (int x = 0; x < width; ++x) {
        out[x] = qRgba(row[4 * x + 2], row[4 * x + 1], row[4 * x], row[4 * x + 3]);
      }
      break;
    default:
      break;
  }
}

bool anyAlpha(const QImage& image) {
  for (int y = 0; y < image.height(); ++y) {
    const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    for (int x = 0; x < image.width(); ++x) {
      if (qAlpha(line[x]) != 0) return true;
    }
  }
  return false;
}

void forceOpaque(QImage& image) {
  for (int y = 0; y < image.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < image.width(); ++x) line[x] |= 0xFF000000u;
  }
}

}  // namespace

std::optional<DibHeader> readDibHeader(ByteSpan bytes, DibKind kind) {
  if (bytes.size() < kInfoHeaderBytes) return std::nullopt;
  const std::uint32_t headerBytes = readU32(bytes, 0);
  // The info header and its later, longer versions share the first 40 bytes.
  if (headerBytes < kInfoHeaderBytes || headerBytes > bytes.size()) return std::nullopt;
  const auto width = static_cast<std::int32_t>(readU32(bytes, 4));
  auto height = static_cast<std::int64_t>(static_cast<std::int32_t>(readU32(bytes, 8)));
  const std::uint16_t planes = readU16(bytes, 12);
  const std::uint16_t bitCount = readU16(bytes, 14);
  const std::uint32_t compression = readU32(bytes, 16);
  const std::uint32_t coloursUsed = readU32(bytes, 32);
  if (planes > 1 || compression != 0) return std::nullopt;
  if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 16 && bitCount != 24 &&
      bitCount != 32) {
    return std::nullopt;
  }
  DibHeader header;
  header.topDown = height < 0;
  if (height < 0) height = -height;
  if (kind == DibKind::IconEntry) {
    if (header.topDown) return std::nullopt;
    height /= 2;
  }
  if (width <= 0 || height <= 0 || !imageSizeAllowed(width, height)) return std::nullopt;
  header.width = width;
  header.height = static_cast<int>(height);
  header.bitCount = bitCount;
  header.headerBytes = headerBytes;
  if (bitCount <= 8) {
    const std::size_t full = std::size_t{1} << bitCount;
    header.paletteEntries = coloursUsed == 0 ? full : std::min<std::size_t>(coloursUsed, full);
  }
  return header;
}

DecodedPicture readDib(ByteSpan bytes, DibKind kind, std::size_t pixelOffset) {
  const auto header = readDibHeader(bytes, kind);
  if (!header) return {};
  const std::size_t paletteBytes = header->paletteEntries * 4;
  if (header->headerBytes + paletteBytes > bytes.size()) return {};
  const ByteSpan palette = bytes.subspan(header->headerBytes, paletteBytes);
  if (pixelOffset == 0) pixelOffset = header->headerBytes + paletteBytes;
  if (pixelOffset > bytes.size()) return {};

  const std::size_t stride = rowBytes(header->width, header->bitCount);
  const std::size_t colourBytes = stride * static_cast<std::size_t>(header->height);
  if (colourBytes > bytes.size() - pixelOffset) return {};
  const std::size_t maskStride = rowBytes(header->width, 1);
  const std::size_t maskBytes = maskStride * static_cast<std::size_t>(header->height);
  // An icon's mask may be missing from a cut-short entry; its pixels then count as opaque.
  const bool hasMask =
      kind == DibKind::IconEntry && maskBytes <= bytes.size() - pixelOffset - colourBytes;

  const bool alphaOutput = kind == DibKind::IconEntry || header->bitCount == 32;
  QImage image(header->width, header->height, formatForDepth(alphaOutput ? 32 : 24));
  if (image.isNull()) return {};
  for (int y = 0; y < header->height; ++y) {
    const int storedRow = header->topDown ? y : header->height - 1 - y;
    const std::uint8_t* row =
        bytes.data() + pixelOffset + stride * static_cast<std::size_t>(storedRow);
    auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
    convertRow(row, header->width, header->bitCount, palette, header->paletteEntries, out);
  }

  const bool ownAlpha = header->bitCount == 32 && anyAlpha(image);
  if (kind == DibKind::IconEntry && !ownAlpha && hasMask) {
    const std::uint8_t* mask = bytes.data() + pixelOffset + colourBytes;
    for (int y = 0; y < header->height; ++y) {
      const std::uint8_t* row =
          mask + maskStride * static_cast<std::size_t>(header->height - 1 - y);
      auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
      for (int x = 0; x < header->width; ++x) {
        const bool transparent = (row[x / 8] >> (7 - x % 8)) & 1;
        out[x] = transparent ? (out[x] & 0x00FFFFFFu) : (out[x] | 0xFF000000u);
      }
    }
  } else if (!ownAlpha) {
    forceOpaque(image);
  }

  DecodedPicture picture;
  picture.pixels = std::move(image);
  picture.depthBits = alphaOutput ? 32 : 24;
  picture.sourceDepthBits = header->bitCount;
  picture.format = kind == DibKind::IconEntry ? ImageFormatIcon : ImageFormatBmp;
  return picture;
}

namespace {

class BmpSession final : public DecodeSession {
 public:
  BmpSession(ByteSpan dib, std::size_t pixelOffset, const DibHeader& header)
      : dib_(dib), pixelOffset_(pixelOffset) {
    width_ = header.width;
    height_ = header.height;
    depthBits_ = header.bitCount == 32 ? 32 : 24;
    sourceDepthBits_ = header.bitCount;
  }
  bool decode(QImage& target) override {
    DecodedPicture picture = readDib(dib_, DibKind::Plain, pixelOffset_);
    if (picture.pixels.isNull() || picture.pixels.size() != target.size()) return false;
    target = picture.pixels.convertToFormat(target.format());
    return !target.isNull();
  }

 private:
  ByteSpan dib_;
  std::size_t pixelOffset_;
};

// A bitmap file: "BM", the file size, two reserved words and the offset of the rows, then the
// info header.
class BmpDecoder final : public ImageDecoder {
 public:
  std::uint32_t formatCode() const override { return ImageFormatBmp; }

  std::unique_ptr<DecodeSession> open(ByteSpan bytes) const override {
    constexpr std::size_t kFileHeaderBytes = 14;
    if (bytes.size() < kFileHeaderBytes + kInfoHeaderBytes || bytes[0] != 'B' || bytes[1] != 'M') {
      return nullptr;
    }
    const std::uint32_t rowsAt = readU32(bytes, 10);
    if (rowsAt < kFileHeaderBytes || rowsAt > bytes.size()) return nullptr;
    const ByteSpan dib = bytes.subspan(kFileHeaderBytes);
    const auto header = readDibHeader(dib, DibKind::Plain);
    if (!header) return nullptr;
    return std::make_unique<BmpSession>(dib, rowsAt - kFileHeaderBytes, *header);
  }
};

}  // namespace

std::unique_ptr<ImageDecoder> makeBmpDecoder() { return std::make_unique<BmpDecoder>(); }

}  // namespace lunadio::ui
