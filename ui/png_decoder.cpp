// The PNG decoder on libpng 1.6. Every transform is set before the single png_read_update_info():
// libpng 1.6 treats a transform set after it, or a second update, as an error, which would make
// most palette and grey pictures fail.
//
// libpng reports errors by longjmp. Only the functions marked "longjmp frame" call setjmp, and
// they hold nothing with a destructor, so a jump never skips one; everything owned lives in the
// session object above them.

#include <png.h>

#include <csetjmp>
#include <cstring>
#include <vector>

#include "ui/images.h"
#include "ui/images_decoder.h"

namespace lunadio::ui {
namespace {

struct MemorySource {
  const std::uint8_t* bytes;
  std::size_t sizeBytes;
  std::size_t offsetBytes;
};

// Never reads past the end: a short source is an error for libpng, not a read of stray memory.
void readFromMemory(png_structp png, png_bytep out, png_size_t countBytes) {
  auto* source = static_cast<MemorySource*>(png_get_io_ptr(png));
  if (countBytes > source->sizeBytes - source->offsetBytes) png_error(png, "truncated");
  std::memcpy(out, source->bytes + source->offsetBytes, countBytes);
  source->offsetBytes += countBytes;
}

[[noreturn]] void failQuietly(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void ignoreWarning(png_structp, png_const_charp) {}

class PngSession final : public DecodeSession {
 public:
  explicit PngSession(ByteSpan bytes) : source_{bytes.data(), bytes.size(), 0} {}
  ~PngSession() override {
    if (png_) png_destroy_read_struct(&png_, info_ ? &info_ : nullptr, nullptr);
  }
  PngSession(const PngSession&) = delete;
  PngSession& operator=(const PngSession&) = delete;

  bool open() {
    png_ = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, failQuietly, ignoreWarning);
    if (!png_) return false;
    info_ = png_create_info_struct(png_);
    if (!info_) return false;
    png_set_read_fn(png_, &source_, readFromMemory);
    png_set_user_limits(png_, kMaxImageSide, kMaxImageSide);
    return readHeader();
  }

  bool decode(QImage& target) override {
    if (target.width() != width_ || target.height() != height_) return false;
    rows_.resize(static_cast<std::size_t>(height_));
    for (int y = 0; y < height_; ++y) rows_[static_cast<std::size_t>(y)] = target.scanLine(y);
    return readRows(rows_.data());
  }

 private:
  // longjmp frame
  bool readHeader() {
    if (setjmp(png_jmpbuf(png_))) return false;
    png_read_info(png_, info_);
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int bitDepth = 0;
    int colourType = 0;
    int interlace = 0;
    png_get_IHDR(png_, info_, &width, &height, &bitDepth, &colourType, &interlace, nullptr,
                 nullptr);
    const int channels = png_get_channels(png_, info_);
    sourceDepthBits_ = bitDepth * channels;
    if (!imageSizeAllowed(width, height)) return false;

    const bool hasTransparencyChunk = png_get_valid(png_, info_, PNG_INFO_tRNS) != 0;
    if (hasTransparencyChunk) png_set_tRNS_to_alpha(png_);
    if (colourType == PNG_COLOR_TYPE_PALETTE) {
      png_set_palette_to_rgb(png_);
    } else if (colourType == PNG_COLOR_TYPE_GRAY || colourType == PNG_COLOR_TYPE_GRAY_ALPHA) {
      if (bitDepth < 8) png_set_expand_gray_1_2_4_to_8(png_);
      png_set_gray_to_rgb(png_);
    }
    if (bitDepth == 16) png_set_strip_16(png_);
    png_set_bgr(png_);
    const bool hasAlpha = hasTransparencyChunk || (colourType & PNG_COLOR_MASK_ALPHA) != 0;
    // 24-bit pictures are held one pixel per 32-bit word; the filler makes that word opaque.
    if (!hasAlpha) png_set_filler(png_, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png_);
    png_read_update_info(png_, info_);

    if (png_get_rowbytes(png_, info_) != static_cast<png_size_t>(width) * 4) return false;
    width_ = static_cast<int>(width);
    height_ = static_cast<int>(height);
    depthBits_ = hasAlpha ? 32 : 24;
    return true;
  }

  // longjmp frame
  bool readRows(png_bytepp rows) {
    if (setjmp(png_jmpbuf(png_))) return false;
    png_read_image(png_, rows);
    return true;
  }

  MemorySource source_;
  png_structp png_ = nullptr;
  png_infop info_ = nullptr;
  std::vector<png_bytep> rows_;
};

class PngDecoder final : public ImageDecoder {
 public:
  std::uint32_t formatCode() const override { return ImageFormatPng; }

  std::unique_ptr<DecodeSession> open(ByteSpan bytes) const override {
    if (bytes.size() < 8 || png_sig_cmp(bytes.data(), 0, 8) != 0) return nullptr;
    auto session = std::make_unique<PngSession>(bytes);
    if (!session->open()) return nullptr;
    return session;
  }
};

}  // namespace

std::unique_ptr<ImageDecoder> makePngDecoder() { return std::make_unique<PngDecoder>(); }

}  // namespace lunadio::ui
