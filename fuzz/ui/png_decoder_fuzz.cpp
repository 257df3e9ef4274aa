// Any bytes given to the PNG decoder: a picture or nothing, no leak, no read past the end.
#include <cstddef>
#include <cstdint>

#include "ui/images_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const auto decoder = lunadio::ui::makePngDecoder();
  const lunadio::ui::DecodedPicture picture =
      lunadio::ui::decodeWith(*decoder, lunadio::ui::ByteSpan(data, size));
  if (!picture.pixels.isNull() && picture.depthBits != 24 && picture.depthBits != 32)
    __builtin_trap();
  return 0;
}
