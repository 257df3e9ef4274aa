#pragma once
// The image table and the decoder list behind ui/images.h. Internal to ui/; main thread only.

#include <QImage>
#include <QString>

#include <cstdint>
#include <unordered_map>

#include "core/object_table.h"
#include "ui/images.h"
#include "ui/images_decoder.h"

namespace lunadio::ui {

struct ImageRecord {
  ImageHandle handle = 0;  // non-zero while the image exists
  QImage pixels;           // formatForDepth(depthBits)
  int depthBits = 0;
  int sourceDepthBits = 0;
  std::uint32_t format = 0;
  QString name;   // setImageName()
  QImage detail;  // setImageDetail(): the same picture at a whole multiple of the size

  bool isLive() const { return handle != 0; }
  bool isIcon() const { return format == ImageFormatIcon; }
};

class ImageLibrary {
 public:
  static ImageLibrary& instance();

  ObjectTable<ImageRecord>& table() { return table_; }
  DecoderList& decoders() { return decoders_; }

  // Gives the record a fresh handle and remembers which number it belongs to.
  ImageHandle assignHandle(ImageRecord& record, ObjectNumber number);
  void forgetHandle(ImageHandle handle) { numbersByHandle_.erase(handle); }
  // The record behind an image number or an image handle, or null.
  ImageRecord* find(std::intptr_t numberOrHandle);

 private:
  ImageLibrary();
  void freeOne(ObjectNumber number);

  // -- main thread only
  ObjectTable<ImageRecord> table_;
  DecoderList decoders_;
  std::unordered_map<ImageHandle, ObjectNumber> numbersByHandle_;
  ImageHandle nextHandle_;
};

}  // namespace lunadio::ui
