#pragma once
// Image decoders: the operations table every picture reader fills, and the ordered list that
// catchImage() offers unknown bytes to. Internal to ui/. Main thread only.
//
// Contract: open(bytes) answers whether the decoder reads them (a session, or null) and reports
// width, height and output depth -> decode(target) once, into an image of exactly that size ->
// the session's destructor closes the decoder. The bytes outlive the session. A decoder never
// reads outside the bytes it was given and never throws.

#include <QImage>

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace lunadio::ui {

using ByteSpan = std::span<const std::uint8_t>;

// Little-endian fields of the bitmap and icon headers; the caller has checked the bounds.
inline std::uint32_t readU32(ByteSpan bytes, std::size_t at) {
  return static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8 |
         static_cast<std::uint32_t>(bytes[at + 2]) << 16 |
         static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}
inline std::uint16_t readU16(ByteSpan bytes, std::size_t at) {
  return static_cast<std::uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

// Pictures larger than this are refused before any pixel memory is taken.
inline constexpr int kMaxImageSide = 16384;
inline constexpr std::int64_t kMaxImagePixels = std::int64_t{1} << 25;
bool imageSizeAllowed(std::int64_t width, std::int64_t height);

// The QImage layout of a held image: 32 bits with alpha (straight, not premultiplied), or 24 bits
// held as 0xFFRRGGBB words.
QImage::Format formatForDepth(int depthBits);

class DecodeSession {
 public:
  virtual ~DecodeSession() = default;
  // Writes every row of `target`, which has formatForDepth(depthBits()) and the reported size.
  // False when the data turn out to be corrupt.
  virtual bool decode(QImage& target) = 0;

  int width() const { return width_; }
  int height() const { return height_; }
  int depthBits() const { return depthBits_; }
  int sourceDepthBits() const { return sourceDepthBits_; }

 protected:
  // -- set by open(), fixed afterwards
  int width_ = 0;
  int height_ = 0;
  int depthBits_ = 24;
  int sourceDepthBits_ = 0;
};

class ImageDecoder {
 public:
  virtual ~ImageDecoder() = default;
  virtual std::uint32_t formatCode() const = 0;
  virtual std::unique_ptr<DecodeSession> open(ByteSpan bytes) const = 0;
};

std::unique_ptr<ImageDecoder> makeBmpDecoder();
std::unique_ptr<ImageDecoder> makePngDecoder();

struct DecodedPicture {
  QImage pixels;  // null when decoding failed
  int depthBits = 0;
  int sourceDepthBits = 0;
  std::uint32_t format = 0;
};

// Opens and decodes with one decoder; a null picture when it refuses or fails.
DecodedPicture decodeWith(const ImageDecoder& decoder, ByteSpan bytes);

// The registered decoders, in registration order; the bitmap reader is always first.
class DecoderList {
 public:
  DecoderList();
  // Adds a decoder unless one with the same format code is registered already.
  void add(std::unique_ptr<ImageDecoder> decoder);
  // The first decoder that accepts the bytes decodes them.
  DecodedPicture decode(ByteSpan bytes) const;

 private:
  std::vector<std::unique_ptr<ImageDecoder>> decoders_;
};

}  // namespace lunadio::ui
