#pragma once
// Fonts made from a face name and a size in points, scaled to the display's DPI. Main thread only.

#include <cstdint>
#include <string_view>

#include "core/object_table.h"

namespace lunadio {

using FontHandle = std::intptr_t;

enum FontFlags : int {
  FontUnderline = 4,
  FontStrikeOut = 8,
  FontHighQuality = 0x10,
  FontBold = 0x100,
  FontItalic = 0x200,
};

// Pixel height = round(points x DPI / 72). A face that is not installed falls back to the
// desktop's general font. Returns the handle for a static number, the dynamic identifier for
// ObjectAny, 0 on failure. Loading under a used number replaces that font.
FontHandle loadFont(ObjectNumber number, std::u16string_view face, int sizePoints, int flags = 0);
FontHandle fontHandle(ObjectNumber number);
// Frees one font, or every font with ObjectAll.
void freeFont(ObjectNumber number);

// The display's vertical DPI, read once at start (96 when no screen tells).
int displayDpi();
// The character height in pixels that loadFont() asks for at this size on this display.
int fontPixelHeight(int sizePoints);

}  // namespace lunadio
