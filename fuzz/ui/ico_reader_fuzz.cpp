// Any bytes given to the .ico reader: it either decodes a picture of the size its entry claims
// or returns nothing, and never reads outside the bytes.
#include <cstddef>
#include <cstdint>

#include "ui/ico_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const lunadio::ui::ByteSpan bytes(data, size);
  if (!lunadio::ui::looksLikeIcon(bytes)) return 0;
  const lunadio::ui::DecodedPicture picture = lunadio::ui::readIcon(bytes);
  if (!picture.pixels.isNull() && picture.pixels.depth() != 32) __builtin_trap();
  return 0;
}
