#pragma once
// The device-independent bitmap layout shared by .bmp files and the bitmap entries of .ico files:
// an info header, an optional palette and bottom-up (or, with a negative height, top-down) rows
// padded to 4 bytes. Internal to ui/.

#include <cstddef>
#include <optional>

#include "ui/images_decoder.h"

namespace lunadio::ui {

enum class DibKind {
  // A bitmap file's pixels; 32-bit pixels whose alpha bytes are all 0 count as opaque.
  Plain,
  // An icon entry: the stored height is doubled and a 1-bit AND mask (1 = transparent) follows
  // the colour rows; the result always has alpha.
  IconEntry,
};

struct DibHeader {
  int width = 0;
  int height = 0;  // of the picture, always positive
  bool topDown = false;
  int bitCount = 0;
  std::size_t headerBytes = 0;
  std::size_t paletteEntries = 0;
};

// Reads and checks the info header at the start of `bytes`; nullopt when it is not one this
// reader handles (uncompressed 1, 4, 8, 16, 24 or 32 bits).
std::optional<DibHeader> readDibHeader(ByteSpan bytes, DibKind kind);

// Decodes the picture whose info header starts `bytes`. `pixelOffset` is where the rows start,
// counted from the start of `bytes`; 0 means right after the header and palette.
DecodedPicture readDib(ByteSpan bytes, DibKind kind, std::size_t pixelOffset = 0);

}  // namespace lunadio::ui
