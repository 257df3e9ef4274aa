#pragma once
// String helpers of the runtime. Text is UTF-16 (std::u16string) everywhere above the operating
// system; UTF-8 only at its edge (paths, standard output, the preference file). Positions are
// 1-based; a missing text reads as the empty text.

#include <cstdint>
#include <string>
#include <string_view>

namespace lunadio {

// Compare mode bit for findString.
inline constexpr int FindNoCase = 1;

// 1-based position of `pattern` at or after `start` in `text`, else 0 (also for an empty text or
// pattern). start <= 0 means 1. With FindNoCase each character is lowered first.
int findString(std::u16string_view text, std::u16string_view pattern, int start, int mode);
int findString(std::u16string_view text, std::u16string_view pattern);

bool equalStrings(std::u16string_view a, std::u16string_view b);

// red + 256 * green + 65536 * blue
constexpr std::int32_t rgb(int red, int green, int blue) {
  return (red & 0xFF) | ((green & 0xFF) << 8) | ((blue & 0xFF) << 16);
}
constexpr int redOf(std::int32_t colour) { return colour & 0xFF; }
constexpr int greenOf(std::int32_t colour) { return (colour >> 8) & 0xFF; }
constexpr int blueOf(std::int32_t colour) { return (colour >> 16) & 0xFF; }

// The last `count` characters ("" for count < 0, the whole text for a count beyond its length).
std::u16string rightPart(std::u16string_view text, int count);

// decimals -1: "%.10f" without trailing zeros and point; otherwise fixed with 0..512 decimals.
std::u16string formatDouble(double value, int decimals = -1);

// The text right-aligned in `length` characters, padded with `fill`; a longer text is cut.
std::u16string padLeft(std::u16string_view text, int length, char16_t fill = u' ');

// Mode bit for getFilePart: drop the extension.
inline constexpr int FilePartNoExtension = 1;
std::u16string getFilePart(std::u16string_view path, int mode = 0);
std::u16string getExtensionPart(std::u16string_view path);

// Lowers one UTF-16 unit the way the system's case-insensitive compares do (Latin-1 and the
// common BMP letters through towlower).
char16_t lowerChar(char16_t c);
std::u16string toLower(std::u16string_view text);

// UTF-8 <-> UTF-16 at the operating-system edge. Bytes that are not valid UTF-8 map to the lone
// surrogates U+DC80..U+DCFF and back, so any file name round-trips unchanged.
std::u16string fromUtf8(std::string_view bytes);
std::string toUtf8(std::u16string_view text);

// Decimal conversions the libraries use for numbers in text.
std::u16string toU16(std::string_view ascii);
std::u16string numberText(std::int64_t value);

}  // namespace lunadio
