#pragma once
// Images held in memory: the program's embedded icon and pictures, turned into numbered image
// objects whose handles gadgets and the tray icon show. Main thread only.
//
// Handles are opaque non-zero integers, distinct from image numbers and dynamic identifiers;
// resizing an image gives it a new handle, as a new bitmap would.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/object_table.h"

namespace lunadio {

using ImageHandle = std::intptr_t;

// Four characters read as a number, first character in the lowest byte.
inline constexpr std::uint32_t formatCode(const char (&text)[5]) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(text[0])) |
         static_cast<std::uint32_t>(static_cast<unsigned char>(text[1])) << 8 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(text[2])) << 16 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(text[3])) << 24;
}
inline constexpr std::uint32_t ImageFormatIcon = formatCode("ICON");
inline constexpr std::uint32_t ImageFormatPng = formatCode("PNG\0");
inline constexpr std::uint32_t ImageFormatBmp = formatCode("BMP\0");

enum class ResizeMode { Smooth = 0, Raw = 1 };

// Makes an image from file bytes in memory: an .ico file is read by the image library itself,
// anything else by the registered decoders in order (the bitmap reader, then the PNG decoder once
// usePngDecoder() ran). Returns the handle for a static number, the dynamic identifier for
// ObjectAny, 0 when no reader accepts the bytes or decoding fails (the number stays free).
ImageHandle catchImage(ObjectNumber number, const void* bytes, std::size_t sizeBytes);

// A blank (black) image of the given size and depth (24 or 32 bits), e.g. to draw into.
ImageHandle createImage(ObjectNumber number, int width, int height, int depthBits = 24);

// mode 0 smooth, 1 nearest pixel; IgnoreValue keeps a dimension. Icons are not resized. Returns
// the image's handle afterwards, 0 for an unknown number or a size that cannot be made (the image
// is then left as it was).
ImageHandle resizeImage(ObjectNumber number, int width, int height, int mode = 0);

// The handle of a live image, or 0.
ImageHandle imageHandle(ObjectNumber number);
// Size and bits per pixel of the held image (32 for icons and pictures with alpha, else 24);
// 0 for an unknown number.
int imageWidth(ObjectNumber number);
int imageHeight(ObjectNumber number);
int imageDepth(ObjectNumber number);
// Bits per pixel of the source picture, and its format code (ImageFormatIcon, ...); 0 if unknown.
int imageSourceDepth(ObjectNumber number);
std::uint32_t imageFormat(ObjectNumber number);

// A finer drawing of the same picture for screens with several device pixels per pixel (the
// desktop's scale): its size in pixels is a whole multiple of the image's. Gadgets and the tray
// showing the image take it on such screens, with the image's own size as their size. Returns
// false (and keeps the image as it was) when the bytes do not decode or the sizes do not divide.
// Set it after resizeImage; a later resize or catch under the number drops it.
bool setImageDetail(ObjectNumber number, const void* bytes, std::size_t sizeBytes);

// What the picture shows, in words: screen readers give it as the name of an image gadget or
// image button showing the image, and present such an image gadget as a button. Kept through
// resizeImage; "" (the default) leaves the gadget unnamed.
void setImageName(ObjectNumber number, std::u16string_view name);

// Frees one image, or every image with ObjectAll.
void freeImage(ObjectNumber number);

// Registers the PNG decoder after the decoders already registered; a second call does nothing.
void usePngDecoder();

// Adds the start and end routines of images, fonts, drawing, the tray and the requesters to the
// program's start/end order. The start routines need the QApplication to exist.
void registerUiGfxLifecycle();

}  // namespace lunadio
