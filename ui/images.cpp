#include "ui/images.h"

#include "core/no_throw.h"

#include "ui/ico_reader.h"
#include "ui/images_library.h"
#include "ui/images_resize.h"
#include "ui/ui_internal.h"

namespace lunadio {
namespace ui {
namespace {

constexpr int kImageGrowthStep = 16;
// Handles sit far above static numbers and dynamic identifiers, so one value never means both.
constexpr ImageHandle kFirstImageHandle = 0x40000000;

}  // namespace

bool imageSizeAllowed(std::int64_t width, std::int64_t height) {
  return width > 0 && height > 0 && width <= kMaxImageSide && height <= kMaxImageSide &&
         width * height <= kMaxImagePixels;
}

QImage::Format formatForDepth(int depthBits) {
  return depthBits == 32 ? QImage::Format_ARGB32 : QImage::Format_RGB32;
}

namespace {

DecodedPicture finishDecode(DecodeSession& session, std::uint32_t format) {
  if (!imageSizeAllowed(session.width(), session.height())) return {};
  QImage pixels(session.width(), session.height(), formatForDepth(session.depthBits()));
  if (pixels.isNull() || !session.decode(pixels)) return {};
  DecodedPicture picture;
  picture.pixels = std::move(pixels);
  picture.depthBits = session.depthBits();
  picture.sourceDepthBits = session.sourceDepthBits();
  picture.format = format;
  return picture;
}

}  // namespace

DecodedPicture decodeWith(const ImageDecoder& decoder, ByteSpan bytes) {
  auto session = decoder.open(bytes);
  return session ? finishDecode(*session, decoder.formatCode()) : DecodedPicture{};
}

DecoderList::DecoderList() { add(makeBmpDecoder()); }

void DecoderList::add(std::unique_ptr<ImageDecoder> decoder) {
  for (const auto& known : decoders_) {
    if (known->formatCode() == decoder->formatCode()) return;
  }
  decoders_.push_back(std::move(decoder));
}

DecodedPicture DecoderList::decode(ByteSpan bytes) const {
  for (const auto& decoder : decoders_) {
    auto session = decoder->open(bytes);
    if (!session) continue;
    // The first decoder that accepts the bytes owns them: a failed decode means corrupt data.
    return finishDecode(*session, decoder->formatCode());
  }
  return {};
}

ImageLibrary& ImageLibrary::instance() {
  static ImageLibrary library;
  return library;
}

ImageLibrary::ImageLibrary()
    : table_(kImageGrowthStep, [this](ObjectNumber number) { freeOne(number); }),
      nextHandle_(kFirstImageHandle) {}

ImageHandle ImageLibrary::assignHandle(ImageRecord& record, ObjectNumber number) {
  if (record.handle) forgetHandle(record.handle);
  record.handle = nextHandle_++;
  numbersByHandle_[record.handle] = number;
  return record.handle;
}

ImageRecord* ImageLibrary::find(std::intptr_t numberOrHandle) {
  if (numberOrHandle >= INT32_MIN && numberOrHandle <= INT32_MAX) {
    if (ImageRecord* record = table_.lookup(static_cast<ObjectNumber>(numberOrHandle))) {
      return record;
    }
  }
  const auto it = numbersByHandle_.find(numberOrHandle);
  return it == numbersByHandle_.end() ? nullptr : table_.lookup(it->second);
}

void ImageLibrary::freeOne(ObjectNumber number) {
  if (ImageRecord* record = table_.lookup(number)) forgetHandle(record->handle);
  table_.release(number);
}

QImage imagePixelsForHandle(std::intptr_t imageHandle) {
  if (imageHandle == 0) return {};
  const ImageRecord* record = ImageLibrary::instance().find(imageHandle);
  return record ? record->pixels : QImage();
}

QPixmap imagePixmapForHandle(std::intptr_t imageHandle, qreal devicePixelRatio) {
  if (imageHandle == 0) return {};
  const ImageRecord* record = ImageLibrary::instance().find(imageHandle);
  if (!record || record->pixels.isNull()) return {};
  if (!record->detail.isNull() && record->pixels.width() > 0) {
    const qreal scale = static_cast<qreal>(record->detail.width()) / record->pixels.width();
    if (devicePixelRatio >= scale - 0.01) {
      QPixmap fine = QPixmap::fromImage(record->detail);
      fine.setDevicePixelRatio(scale);
      return fine;
    }
  }
  return QPixmap::fromImage(record->pixels);
}

QString imageNameForHandle(std::intptr_t imageHandle) {
  if (imageHandle == 0) return {};
  const ImageRecord* record = ImageLibrary::instance().find(imageHandle);
  return record ? record->name : QString();
}

namespace {

ImageHandle storePicture(ObjectNumber number, DecodedPicture picture) {
  auto& library = ImageLibrary::instance();
  const auto allocation = library.table().allocate(number);
  if (!allocation.record) return 0;
  if (picture.pixels.isNull()) {
    library.table().release(allocation.id);
    return 0;
  }
  ImageRecord& record = *allocation.record;
  record.pixels = std::move(picture.pixels);
  record.depthBits = picture.depthBits;
  record.sourceDepthBits = picture.sourceDepthBits;
  record.format = picture.format;
  const ImageHandle handle = library.assignHandle(record, allocation.id);
  return number == ObjectAny ? allocation.id : handle;
}

}  // namespace
}  // namespace ui

using ui::ImageLibrary;
using ui::ImageRecord;

ImageHandle catchImage(ObjectNumber number, const void* bytes, std::size_t sizeBytes) {
  return noThrow(0, [&]() -> ImageHandle {
    if (!bytes || sizeBytes == 0) {
      // Still frees what the number held, as any create under a used number does.
      return ui::storePicture(number, {});
    }
    const ui::ByteSpan data(static_cast<const std::uint8_t*>(bytes), sizeBytes);
    ui::DecodedPicture picture;
    if (ui::looksLikeIcon(data)) {
      picture = ui::readIcon(data);
    } else {
      picture = ImageLibrary::instance().decoders().decode(data);
    }
    return ui::storePicture(number, std::move(picture));
  });
}

ImageHandle createImage(ObjectNumber number, int width, int height, int depthBits) {
  return noThrow(0, [&]() -> ImageHandle {
    ui::DecodedPicture picture;
    if ((depthBits == 24 || depthBits == 32) && ui::imageSizeAllowed(width, height)) {
      picture.pixels = QImage(width, height, ui::formatForDepth(depthBits));
      picture.pixels.fill(0xFF000000u);
      picture.depthBits = depthBits;
      picture.sourceDepthBits = depthBits;
      picture.format = ImageFormatBmp;
    }
    return ui::storePicture(number, std::move(picture));
  });
}

ImageHandle resizeImage(ObjectNumber number, int width, int height, int mode) {
  return noThrow(0, [&]() -> ImageHandle {
    auto& library = ImageLibrary::instance();
    ImageRecord* record = library.table().lookup(number);
    if (!record) return 0;
    if (record->isIcon()) return record->handle;
    if (width == IgnoreValue) width = record->pixels.width();
    if (height == IgnoreValue) height = record->pixels.height();
    if (width == record->pixels.width() && height == record->pixels.height()) return record->handle;
    if (!ui::imageSizeAllowed(width, height)) return 0;

    QImage resized;
    if (mode == static_cast<int>(ResizeMode::Raw)) {
      resized = ui::resizeNearest(record->pixels, width, height);
    } else if (record->depthBits == 32) {
      resized = ui::resizeCubic(record->pixels, width, height);
    } else {
      resized = ui::resizeSmoothOpaque(record->pixels, width, height);
    }
    if (resized.isNull()) return 0;
    record->pixels = std::move(resized);
    record->detail = QImage();  // drawn for the old size
    return library.assignHandle(*record, number);
  });
}

ImageHandle imageHandle(ObjectNumber number) {
  const ImageRecord* record = ImageLibrary::instance().table().lookup(number);
  return record ? record->handle : 0;
}

int imageWidth(ObjectNumber number) {
  const ImageRecord* record = ImageLibrary::instance().table().lookup(number);
  return record ? record->pixels.width() : 0;
}

int imageHeight(ObjectNumber number) {
  const ImageRecord* record = ImageLibrary::instance().table().lookup(number);
  return record ? record->pixels.height() : 0;
}

int imageDepth(ObjectNumber number) {
  const ImageRecord* record = ImageLibrary::instance().table().lookup(number);
  return record ? record->depthBits : 0;
}

int imageSourceDepth(ObjectNumber number) {
  const ImageRecord* record = ImageLibrary::instance().table().lookup(number);
  return record ? record->sourceDepthBits : 0;
}

std::uint32_t imageFormat(ObjectNumber number) {
  const ImageRecord* record = ImageLibrary::instance().table().lookup(number);
  return record ? record->format : 0;
}

bool setImageDetail(ObjectNumber number, const void* bytes, std::size_t sizeBytes) {
  return noThrow(false, [&] {
    ImageRecord* record = ImageLibrary::instance().table().lookup(number);
    if (!record || record->pixels.isNull() || !bytes || sizeBytes == 0) return false;
    const ui::ByteSpan data(static_cast<const std::uint8_t*>(bytes), sizeBytes);
    QImage detail = ImageLibrary::instance().decoders().decode(data).pixels;
    const int width = record->pixels.width();
    const int height = record->pixels.height();
    if (detail.isNull() || detail.width() % width != 0 || detail.height() % height != 0 ||
        detail.width() / width != detail.height() / height || detail.width() == width) {
      return false;
    }
    record->detail = detail.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    return true;
  });
}

void setImageName(ObjectNumber number, std::u16string_view name) {
  noThrow([&] {
    if (ImageRecord* record = ImageLibrary::instance().table().lookup(number)) {
      record->name = QString::fromUtf16(name.data(), static_cast<qsizetype>(name.size()));
    }
  });
}

void freeImage(ObjectNumber number) {
  noThrow([&] {
    auto& table = ImageLibrary::instance().table();
    if (number == ObjectAll) {
      table.freeAll();
      return;
    }
    if (table.isObject(number)) {
      ImageLibrary::instance().forgetHandle(table.lookup(number)->handle);
      table.release(number);
    }
  });
}

void usePngDecoder() { ImageLibrary::instance().decoders().add(ui::makePngDecoder()); }

}  // namespace lunadio
